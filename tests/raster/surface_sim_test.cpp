// Drawing surfaces on the simulated device: their exact memory, the height-halving retries
// under the device's bitmap size limit, and the contexts they borrow.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/draw.h"
#include "platform/sim/device.h"
#include "raster/surface.h"
#include "tests/raster/surface_fixture.h"

namespace br::test {
namespace {

// Every borrowed context is given back, and the bitmap limit applies to one test only.
class SurfaceSimTest : public SurfaceTest {
  protected:
    void TearDown() override {
        plat::sim::FailBitmapsAbove(0);
        const plat::sim::Counts live = plat::sim::Live();
        EXPECT_EQ(live.bitmapBytes, 0u);
        EXPECT_EQ(live.deviceContexts, 0);
        SurfaceTest::TearDown();
    }
};

TEST_F(SurfaceSimTest, RowsTakeThreeBytesAPixelOfTheRoundedWidthWithoutPadding) {
    const struct {
        std::int32_t width, expected;
    } table[] = {{241, 244}, {240, 240}, {1, 4}, {3, 4}, {5, 8}};
    for (const auto& t : table) {
        Size size(-1, -1);
        std::uint8_t* bits = nullptr;
        plat::HBITMAP bitmap = CreateSurface(nullptr, t.width, 3, &size, &bits, false, false);
        ASSERT_NE(bitmap, nullptr) << t.width;
        // 732 bytes a row for 241 pixels.
        EXPECT_EQ(plat::sim::Live().bitmapBytes, static_cast<std::size_t>(3 * t.expected * 3));
        plat::DeleteObject(bitmap);
    }
}

TEST_F(SurfaceSimTest, HalvesTheHeightOnFailureWhileItStaysAtLeastFour) {
    // A 4-pixel-wide surface takes 12 bytes a row; the limit decides which heights fail.
    // Asking for 20 tries 20, 10 and 5; asking for 7 tries 7 and 4; nothing below 4.
    const struct {
        std::int32_t height;
        std::size_t limit;  // 0: none
        bool halve;
        std::int32_t created;  // 0: none
    } table[] = {
        {20, 0, true, 20}, {20, 239, true, 10}, {20, 119, true, 5},  {20, 59, true, 0},
        {7, 83, true, 4},  {7, 47, true, 0},    {20, 239, false, 0}, {4, 47, true, 0},
    };
    for (const auto& t : table) {
        plat::sim::FailBitmapsAbove(t.limit);
        Size size(-7, -7);
        std::uint8_t* const untouched = reinterpret_cast<std::uint8_t*>(&size);
        std::uint8_t* bits = untouched;
        plat::HBITMAP bitmap = CreateSurface(nullptr, 4, t.height, &size, &bits, t.halve, false);
        const std::string label = "height " + std::to_string(t.height) + " limit " +
                                  std::to_string(t.limit) + " halve " + std::to_string(t.halve);
        if (t.created == 0) {
            EXPECT_EQ(bitmap, nullptr) << label;
            EXPECT_EQ(size.cx, -7) << label;  // outputs left as they were
            EXPECT_EQ(size.cy, -7) << label;
            EXPECT_EQ(bits, untouched) << label;
        } else {
            ASSERT_NE(bitmap, nullptr) << label;
            EXPECT_EQ(size.cx, 4) << label;
            EXPECT_EQ(size.cy, t.created) << label;
            EXPECT_NE(bits, untouched) << label;
            plat::DeleteObject(bitmap);
        }
    }
}

TEST_F(SurfaceSimTest, UsesTheGivenContextAndBorrowsNone) {
    plat::HDC memory = plat::CreateCompatibleDC(nullptr);
    const int contexts = plat::sim::Live().deviceContexts;
    Size size;
    std::uint8_t* bits = nullptr;
    plat::HBITMAP bitmap = CreateSurface(memory, 8, 8, &size, &bits, false, false);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(plat::sim::Live().deviceContexts, contexts);
    plat::DeleteObject(bitmap);
    plat::DeleteDC(memory);
}

}  // namespace
}  // namespace br::test
