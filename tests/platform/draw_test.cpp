// Drawing: bitmap section layouts, device contexts and object selection, rectangle fills and
// copies between memory, window and screen contexts.
#include "platform/draw.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/window.h"
#include "tests/platform/test_window.h"

namespace platform_test {
namespace {

using plat::HBITMAP;
using plat::HDC;

plat::BITMAPINFO Header(int width, int height, int bitsPerPixel) {
    plat::BITMAPINFO info{};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<std::uint16_t>(bitsPerPixel);
    return info;
}

// A bitmap section with its memory, deleted at the end of the test.
struct Section {
    HBITMAP bitmap = nullptr;
    std::uint8_t* bits = nullptr;
    Section(int width, int height, int bitsPerPixel, std::uint32_t usage = plat::DIB_RGB_COLORS) {
        plat::BITMAPINFO info = Header(width, height, bitsPerPixel);
        void* memory = nullptr;
        bitmap = plat::CreateDIBSection(nullptr, &info, usage, &memory, nullptr, 0);
        bits = static_cast<std::uint8_t*>(memory);
    }
    ~Section() {
        if (bitmap) plat::DeleteObject(bitmap);
    }
};

// Blue, green, red of the pixel at byte offset `at`.
std::uint32_t Bgr(const std::uint8_t* at) {
    return at[0] << 16 | at[1] << 8 | at[2];
}

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

TEST_F(DrawTest, ACopyToAWindowLandsOnTheScreenAtTheWindowsPlace) {
    plat::HWND window = MakeWindow(u"placed", 8, 4, 10, 20);
    ASSERT_NE(window, nullptr);
    HDC windowDc = plat::GetDC(window);
    ASSERT_NE(windowDc, nullptr);
    Section picture(8, -4, 24);
    std::memset(picture.bits, 0x5A, 8 * 4 * 3);
    HDC memory = plat::CreateCompatibleDC(windowDc);
    plat::HGDIOBJ old = plat::SelectObject(memory, picture.bitmap);
    ASSERT_TRUE(plat::BitBlt(windowDc, 0, 0, 8, 4, memory, 0, 0, plat::SRCCOPY));

    // Read the screen back around the window: 12 x 8 pixels from (8, 18).
    Section readBack(12, -8, 24);
    plat::SelectObject(memory, readBack.bitmap);
    HDC screen = plat::GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    ASSERT_TRUE(plat::BitBlt(memory, 0, 0, 12, 8, screen, 8, 18, plat::SRCCOPY));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 12; ++x) {
            const bool inside = x >= 2 && x < 10 && y >= 2 && y < 6;
            if (inside) {
                EXPECT_EQ(Bgr(readBack.bits + (y * 12 + x) * 3), 0x5A5A5Au) << x << "," << y;
            }
        }
    }
    plat::SelectObject(memory, old);
    plat::DeleteDC(memory);
    EXPECT_EQ(plat::ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(plat::ReleaseDC(window, windowDc), 1);
}

// Regression: a copy from the screen into a window one row lower overlaps itself; it used to
// smear the first row down the whole window.
TEST_F(DrawTest, AnOverlappingCopyOnTheScreenMovesThePictureIntact) {
    plat::HWND window = MakeWindow(u"lower", 1, 3, 0, 1);  // screen rows 1-3 of column 0
    HDC screen = plat::GetDC(nullptr);
    HDC windowDc = plat::GetDC(window);
    Section column(1, -4, 24);  // screen rows 0-3: 10, 20, 30, 40
    for (int y = 0; y < 4; ++y) column.bits[y * 4] = static_cast<std::uint8_t>(10 * (y + 1));
    HDC memory = plat::CreateCompatibleDC(nullptr);
    plat::HGDIOBJ old = plat::SelectObject(memory, column.bitmap);
    ASSERT_TRUE(plat::BitBlt(screen, 0, 0, 1, 4, memory, 0, 0, plat::SRCCOPY));
    ASSERT_TRUE(plat::BitBlt(windowDc, 0, 0, 1, 3, screen, 0, 0, plat::SRCCOPY));
    ASSERT_TRUE(plat::BitBlt(memory, 0, 0, 1, 4, screen, 0, 0, plat::SRCCOPY));
    const int expected[] = {10, 10, 20, 30};
    for (int y = 0; y < 4; ++y) EXPECT_EQ(column.bits[y * 4], expected[y]) << y;
    plat::SelectObject(memory, old);
    plat::DeleteDC(memory);
    plat::ReleaseDC(window, windowDc);
    plat::ReleaseDC(nullptr, screen);
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
