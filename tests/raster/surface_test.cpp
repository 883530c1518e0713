// Drawing surfaces on the simulated device: width rounding, row order, the borrowed screen
// context and the height-halving retries under the device's bitmap size limit.
#include "raster/surface.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/draw.h"
#include "platform/sim/device.h"

namespace br::test {
namespace {

class SurfaceTest : public ::testing::Test {
  protected:
    void SetUp() override { plat::sim::Reset(); }
    void TearDown() override {
        // Every surface was deleted and every borrowed context given back.
        const plat::sim::Counts live = plat::sim::Live();
        EXPECT_EQ(live.bitmapBytes, 0u);
        EXPECT_EQ(live.deviceContexts, 0);
    }
};

TEST_F(SurfaceTest, WidthIsRoundedUpToAMultipleOfFourPixels) {
    const struct {
        std::int32_t width, expected;
    } table[] = {{241, 244}, {240, 240}, {1, 4}, {3, 4}, {5, 8}};
    for (const auto& t : table) {
        Size size(-1, -1);
        std::uint8_t* bits = nullptr;
        plat::HBITMAP bitmap = CreateSurface(nullptr, t.width, 3, &size, &bits, false, false);
        ASSERT_NE(bitmap, nullptr) << t.width;
        EXPECT_EQ(size.cx, t.expected) << t.width;
        EXPECT_EQ(size.cy, 3);
        ASSERT_NE(bits, nullptr);
        // Rows of 3 * width bytes without padding: 732 bytes a row for 241 pixels.
        EXPECT_EQ(plat::sim::Live().bitmapBytes, static_cast<std::size_t>(3 * t.expected * 3));
        std::memset(bits, 0x5A, static_cast<std::size_t>(3 * size.cx * size.cy));
        plat::DeleteObject(bitmap);
    }
}

TEST_F(SurfaceTest, RowsRunTopDownUnlessBottomUpIsAskedFor) {
    // The first row in memory is painted white; copied to the screen, it shows at the top of
    // a top-down surface and at the bottom of a bottom-up one.
    for (const bool bottomUp : {false, true}) {
        Size size;
        std::uint8_t* bits = nullptr;
        plat::HBITMAP bitmap = CreateSurface(nullptr, 4, 2, &size, &bits, false, bottomUp);
        ASSERT_NE(bitmap, nullptr);
        std::memset(bits, 0, 3 * 4 * 2);
        std::memset(bits, 0xFF, 3 * 4);
        plat::HDC memory = plat::CreateCompatibleDC(nullptr);
        plat::HGDIOBJ old = plat::SelectObject(memory, bitmap);
        plat::HDC screen = plat::GetDC(nullptr);
        ASSERT_TRUE(plat::BitBlt(screen, 0, 0, 4, 2, memory, 0, 0, plat::SRCCOPY));
        plat::ReleaseDC(nullptr, screen);
        plat::SelectObject(memory, old);
        plat::DeleteDC(memory);
        plat::DeleteObject(bitmap);

        const plat::sim::ScreenShot shot = plat::sim::Screen();
        const std::size_t secondRow = static_cast<std::size_t>(shot.width) * 3;
        EXPECT_EQ(shot.bgr[0], bottomUp ? 0x00 : 0xFF) << "bottomUp " << bottomUp;
        EXPECT_EQ(shot.bgr[secondRow], bottomUp ? 0xFF : 0x00) << "bottomUp " << bottomUp;
    }
}

TEST_F(SurfaceTest, HalvesTheHeightOnFailureWhileItStaysAtLeastFour) {
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

TEST_F(SurfaceTest, RefusesEmptySizesAndMissingOutputsWithoutCreatingAnything) {
    const int objects = plat::sim::Live().gdiObjects;
    Size size(-7, -7);
    std::uint8_t* bits = nullptr;
    EXPECT_EQ(CreateSurface(nullptr, 0, 10, &size, &bits, true, false), nullptr);
    EXPECT_EQ(CreateSurface(nullptr, 10, 0, &size, &bits, true, false), nullptr);
    EXPECT_EQ(CreateSurface(nullptr, -4, 10, &size, &bits, true, false), nullptr);
    EXPECT_EQ(CreateSurface(nullptr, 10, 10, &size, nullptr, true, false), nullptr);
    EXPECT_EQ(CreateSurface(nullptr, 10, 10, nullptr, &bits, true, false), nullptr);
    // A width with no multiple of 4 in range.
    EXPECT_EQ(CreateSurface(nullptr, 0x7FFFFFFE, 10, &size, &bits, true, false), nullptr);
    EXPECT_EQ(size.cx, -7);
    EXPECT_EQ(bits, nullptr);
    EXPECT_EQ(plat::sim::Live().gdiObjects, objects);
}

TEST_F(SurfaceTest, UsesTheGivenContextAndBorrowsNone) {
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
