// Drawing: bitmap section layouts, device contexts and object selection, rectangle fills and
// copies between memory and window contexts.
#include "platform/draw.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/window.h"
#include "tests/platform/sections.h"
#include "tests/platform/test_window.h"

namespace platform_test {
namespace {

using plat::HDC;

using DrawTest = WindowTest;

TEST_F(DrawTest, SectionRowsArePaddedToFourBytesAndStartZeroed) {
    struct Case {
        int width, height, bitsPerPixel;
        std::size_t stride;
    };
    const Case cases[] = {
        {1, 1, 8, 4},   {4, 2, 8, 4},    {5, 3, 8, 8},         {1, 2, 24, 4},
        {3, 1, 24, 12}, {5, -4, 24, 16}, {240, -320, 24, 720}, {241, 2, 24, 724},
    };
    for (const auto& c : cases) {
        Section section(c.width, c.height, c.bitsPerPixel);
        ASSERT_NE(section.bitmap, nullptr) << c.width << "x" << c.height;
        ASSERT_NE(section.bits, nullptr);
        const std::size_t bytes = c.stride * static_cast<std::size_t>(std::abs(c.height));
        for (std::size_t i = 0; i < bytes; ++i) ASSERT_EQ(section.bits[i], 0) << i;
        std::memset(section.bits, 0xAB, bytes);  // the whole padded size is ours to write
    }
}

TEST_F(DrawTest, UnusableHeadersMakeNoSection) {
    struct Case {
        const char* what;
        plat::BITMAPINFO info;
        std::uint32_t usage;
    };
    auto with = [](auto change) {
        plat::BITMAPINFO info = Header(4, 4, 24);
        change(info.bmiHeader);
        return info;
    };
    const Case cases[] = {
        {"header size 0", with([](auto& h) { h.biSize = 0; }), 0},
        {"width 0", with([](auto& h) { h.biWidth = 0; }), 0},
        {"negative width", with([](auto& h) { h.biWidth = -4; }), 0},
        {"height 0", with([](auto& h) { h.biHeight = 0; }), 0},
        {"2 planes", with([](auto& h) { h.biPlanes = 2; }), 0},
        {"compressed", with([](auto& h) { h.biCompression = 1; }), 0},
        {"usage 7", Header(4, 4, 24), 7},
    };
    for (const auto& c : cases) {
        void* bits = reinterpret_cast<void*>(1);
        EXPECT_EQ(plat::CreateDIBSection(nullptr, &c.info, c.usage, &bits, nullptr, 0), nullptr)
            << c.what;
        EXPECT_EQ(bits, nullptr) << c.what;
    }
    void* bits = nullptr;
    EXPECT_EQ(plat::CreateDIBSection(nullptr, nullptr, 0, &bits, nullptr, 0), nullptr);
}

TEST_F(DrawTest, FillsAndCopiesHonourTopDownAndBottomUpRows) {
    Section topDown(4, -3, 24);
    Section bottomUp(4, 3, 24);
    HDC dc = plat::CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    plat::HBRUSH red = plat::CreateSolidBrush(0x000000FF);  // 0x00BBGGRR

    // Fill the top line (y = 0) of each picture.
    const plat::RECT topLine{0, 0, 4, 1};
    plat::HGDIOBJ original = plat::SelectObject(dc, topDown.bitmap);
    ASSERT_NE(original, nullptr);
    EXPECT_NE(plat::FillRect(dc, &topLine, red), 0);
    EXPECT_EQ(plat::SelectObject(dc, bottomUp.bitmap), topDown.bitmap);
    EXPECT_NE(plat::FillRect(dc, &topLine, red), 0);

    const std::size_t stride = 12;
    EXPECT_EQ(Bgr(topDown.bits), 0x0000FFu);  // first row in memory
    EXPECT_EQ(Bgr(topDown.bits + 2 * stride), 0u);
    EXPECT_EQ(Bgr(bottomUp.bits), 0u);
    EXPECT_EQ(Bgr(bottomUp.bits + 2 * stride + 9), 0x0000FFu);  // last row in memory

    // Copy the bottom-up picture's line y = 0 onto line y = 2 of the top-down one.
    HDC other = plat::CreateCompatibleDC(dc);
    plat::HGDIOBJ otherOriginal = plat::SelectObject(other, topDown.bitmap);
    EXPECT_TRUE(plat::BitBlt(other, 0, 2, 4, 1, dc, 0, 0, plat::SRCCOPY));
    EXPECT_EQ(Bgr(topDown.bits + 2 * stride), 0x0000FFu);
    EXPECT_EQ(Bgr(topDown.bits + 1 * stride), 0u);

    plat::SelectObject(other, otherOriginal);
    plat::SelectObject(dc, original);
    EXPECT_TRUE(plat::DeleteDC(other));
    EXPECT_TRUE(plat::DeleteDC(dc));
    EXPECT_TRUE(plat::DeleteObject(red));
}

TEST_F(DrawTest, CopiesAreClippedToBothPictures) {
    Section from(4, -4, 24);
    Section to(4, -4, 24);
    for (int i = 0; i < 4 * 4; ++i) from.bits[i * 3] = static_cast<std::uint8_t>(i + 1);
    HDC src = plat::CreateCompatibleDC(nullptr);
    HDC dst = plat::CreateCompatibleDC(nullptr);
    plat::HGDIOBJ srcOld = plat::SelectObject(src, from.bitmap);
    plat::HGDIOBJ dstOld = plat::SelectObject(dst, to.bitmap);
    // Asks for 4 x 4 from (-1, 1) to (2, -1): only the 2 x 2 that exists on both sides lands.
    EXPECT_TRUE(plat::BitBlt(dst, 2, -1, 4, 4, src, -1, 1, plat::SRCCOPY));
    // Destination (c, r) comes from source (c - 3, r + 2) where both exist: column 3, rows 0-1.
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const int sr = r + 2, sc = c - 3;
            const std::uint8_t want =
                (sr < 4 && sc >= 0) ? static_cast<std::uint8_t>(sr * 4 + sc + 1) : 0;
            EXPECT_EQ(to.bits[(r * 4 + c) * 3], want) << r << "," << c;
        }
    }
    plat::SelectObject(src, srcOld);
    plat::SelectObject(dst, dstOld);
    plat::DeleteDC(src);
    plat::DeleteDC(dst);
}

// Windows that the tests draw into and read back. They are top-most, so that windows of tests
// running at the same time cannot cover them: on a real window system a covered part of a
// window is neither drawn nor read back. (Tests of this suite take the screen in turn, see
// CMakeLists.txt.)
class WindowDrawTest : public DrawTest {
  protected:
    plat::HWND MakeDrawnWindow(int width, int height, int x, int y) {
        return MakeWindow(u"drawn", width, height, x, y, kTopMost);
    }

  private:
    static constexpr std::uint32_t kTopMost = 0x00000008;
};

// Pixel (x, y) of the test pictures: every pixel differs, so that a shifted, flipped or
// misplaced copy shows.
std::uint32_t PatternAt(int x, int y) {
    return static_cast<std::uint32_t>(0x102030 + x * 0x000011 + y * 0x001100);
}
void FillPattern(std::uint8_t* bits, int width, int height, std::size_t stride) {
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t bgr = PatternAt(x, y);
            std::uint8_t* at = bits + y * stride + x * 3;
            at[0] = static_cast<std::uint8_t>(bgr >> 16);
            at[1] = static_cast<std::uint8_t>(bgr >> 8);
            at[2] = static_cast<std::uint8_t>(bgr);
        }
    }
}

TEST_F(WindowDrawTest, ACopyToAWindowReadsBackFromTheWindowsContext) {
    plat::HWND window = MakeDrawnWindow(8, 4, 10, 20);
    ASSERT_NE(window, nullptr);
    HDC windowDc = plat::GetDC(window);
    ASSERT_NE(windowDc, nullptr);
    Section picture(8, -4, 24);
    FillPattern(picture.bits, 8, 4, 24);
    HDC memory = plat::CreateCompatibleDC(windowDc);
    plat::HGDIOBJ old = plat::SelectObject(memory, picture.bitmap);
    ASSERT_TRUE(plat::BitBlt(windowDc, 0, 0, 8, 4, memory, 0, 0, plat::SRCCOPY));

    // Window coordinates start at its client area's corner, wherever the window is on screen.
    Section readBack(8, -4, 24);
    plat::SelectObject(memory, readBack.bitmap);
    ASSERT_TRUE(plat::BitBlt(memory, 0, 0, 8, 4, windowDc, 0, 0, plat::SRCCOPY));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(Bgr(readBack.bits + y * 24 + x * 3), PatternAt(x, y)) << x << "," << y;
        }
    }
    plat::SelectObject(memory, old);
    plat::DeleteDC(memory);
    EXPECT_EQ(plat::ReleaseDC(window, windowDc), 1);
}

// A copy within one picture whose source and target overlap must move the picture as it was
// before the copy, whichever way it moves; copying row by row in the wrong direction would
// repeat the first rows moved.
TEST_F(WindowDrawTest, AnOverlappingCopyWithinOnePictureMovesItIntact) {
    struct Case {
        const char* what;
        int fromY, toY;
        std::uint8_t expected[4];
    };
    const Case cases[] = {
        {"one row down", 0, 1, {10, 10, 20, 30}},
        {"one row up", 1, 0, {20, 30, 40, 40}},
    };
    plat::HWND window = MakeDrawnWindow(1, 4, 30, 40);
    ASSERT_NE(window, nullptr);
    HDC windowDc = plat::GetDC(window);
    ASSERT_NE(windowDc, nullptr);
    Section column(1, -4, 24);
    HDC memory = plat::CreateCompatibleDC(nullptr);
    plat::HGDIOBJ old = plat::SelectObject(memory, column.bitmap);
    auto setColumn = [&] {
        for (int y = 0; y < 4; ++y) column.bits[y * 4] = static_cast<std::uint8_t>(10 * (y + 1));
    };
    for (const auto& c : cases) {
        // A bitmap copied onto itself.
        setColumn();
        ASSERT_TRUE(plat::BitBlt(memory, 0, c.toY, 1, 3, memory, 0, c.fromY, plat::SRCCOPY));
        for (int y = 0; y < 4; ++y) EXPECT_EQ(column.bits[y * 4], c.expected[y]) << c.what;

        // A window copied onto itself, read back through its context.
        setColumn();
        ASSERT_TRUE(plat::BitBlt(windowDc, 0, 0, 1, 4, memory, 0, 0, plat::SRCCOPY));
        ASSERT_TRUE(plat::BitBlt(windowDc, 0, c.toY, 1, 3, windowDc, 0, c.fromY, plat::SRCCOPY));
        std::memset(column.bits, 0, 16);
        ASSERT_TRUE(plat::BitBlt(memory, 0, 0, 1, 4, windowDc, 0, 0, plat::SRCCOPY));
        for (int y = 0; y < 4; ++y) {
            EXPECT_EQ(column.bits[y * 4], c.expected[y]) << c.what << " in a window, row " << y;
        }
    }
    plat::SelectObject(memory, old);
    plat::DeleteDC(memory);
    plat::ReleaseDC(window, windowDc);
}

TEST_F(DrawTest, SelectObjectReturnsWhatItReplaces) {
    HDC dc = plat::CreateCompatibleDC(nullptr);
    Section a(4, 4, 24);
    Section b(4, 4, 24);
    plat::HGDIOBJ original = plat::SelectObject(dc, a.bitmap);
    EXPECT_NE(original, nullptr);
    EXPECT_EQ(plat::SelectObject(dc, b.bitmap), a.bitmap);
    EXPECT_EQ(plat::SelectObject(dc, original), b.bitmap);
    plat::HBRUSH brush = plat::CreateSolidBrush(0x123456);
    plat::HGDIOBJ originalBrush = plat::SelectObject(dc, brush);
    EXPECT_NE(originalBrush, nullptr);
    EXPECT_EQ(plat::SelectObject(dc, originalBrush), brush);
    EXPECT_EQ(plat::SelectObject(nullptr, a.bitmap), nullptr);
    EXPECT_EQ(plat::SelectObject(dc, nullptr), nullptr);
    EXPECT_TRUE(plat::DeleteDC(dc));
    EXPECT_TRUE(plat::DeleteObject(brush));
    EXPECT_FALSE(plat::DeleteObject(brush));
    EXPECT_FALSE(plat::DeleteDC(dc));
}

TEST_F(DrawTest, AWindowsContextIsNoneForAWindowThatIsGone) {
    plat::HWND window = MakeWindow();
    plat::DestroyWindow(window);
    EXPECT_EQ(plat::GetDC(window), nullptr);
    EXPECT_EQ(plat::ReleaseDC(window, nullptr), 0);
}

}  // namespace
}  // namespace platform_test
