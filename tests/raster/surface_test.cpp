// Drawing surfaces: width rounding, row order and refused sizes.
#include "raster/surface.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/draw.h"
#include "tests/raster/surface_fixture.h"

namespace br::test {
namespace {

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
        // Rows of 3 * width bytes without padding: the whole picture is ours to write.
        std::memset(bits, 0x5A, static_cast<std::size_t>(3 * size.cx * size.cy));
        plat::DeleteObject(bitmap);
    }
}

TEST_F(SurfaceTest, RowsRunTopDownUnlessBottomUpIsAskedFor) {
    // The first row in memory is painted white; copied into a top-down picture, it shows at the
    // top of a top-down surface and at the bottom of a bottom-up one.
    for (const bool bottomUp : {false, true}) {
        Size size;
        std::uint8_t* bits = nullptr;
        plat::HBITMAP bitmap = CreateSurface(nullptr, 4, 2, &size, &bits, false, bottomUp);
        ASSERT_NE(bitmap, nullptr);
        std::memset(bits, 0, 3 * 4 * 2);
        std::memset(bits, 0xFF, 3 * 4);
        Size viewSize;
        std::uint8_t* view = nullptr;
        plat::HBITMAP viewBitmap = CreateSurface(nullptr, 4, 2, &viewSize, &view, false, false);
        ASSERT_NE(viewBitmap, nullptr);
        plat::HDC from = plat::CreateCompatibleDC(nullptr);
        plat::HDC to = plat::CreateCompatibleDC(nullptr);
        plat::HGDIOBJ oldFrom = plat::SelectObject(from, bitmap);
        plat::HGDIOBJ oldTo = plat::SelectObject(to, viewBitmap);
        ASSERT_TRUE(plat::BitBlt(to, 0, 0, 4, 2, from, 0, 0, plat::SRCCOPY));
        plat::SelectObject(from, oldFrom);
        plat::SelectObject(to, oldTo);
        plat::DeleteDC(from);
        plat::DeleteDC(to);

        const std::size_t secondRow = 4 * 3;
        EXPECT_EQ(view[0], bottomUp ? 0x00 : 0xFF) << "bottomUp " << bottomUp;
        EXPECT_EQ(view[secondRow], bottomUp ? 0xFF : 0x00) << "bottomUp " << bottomUp;
        plat::DeleteObject(viewBitmap);
        plat::DeleteObject(bitmap);
    }
}

TEST_F(SurfaceTest, RefusesEmptySizesAndMissingOutputsWithoutCreatingAnything) {
    const int objects = LiveGdiObjects();
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
    EXPECT_EQ(LiveGdiObjects(), objects);
}

}  // namespace
}  // namespace br::test
