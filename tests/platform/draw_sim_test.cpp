// Drawing through the screen's device context on the simulated device, where windows draw
// straight into the one screen picture. (A real window system composes windows itself: what its
// screen context reads back need not be what the windows show, so these stay here.)
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/draw.h"
#include "platform/sim/device.h"
#include "platform/window.h"
#include "tests/platform/sections.h"
#include "tests/platform/test_window.h"

namespace platform_test {
namespace {

using plat::HDC;

using ScreenDrawTest = WindowTest;

TEST_F(ScreenDrawTest, ACopyToAWindowLandsOnTheScreenAtTheWindowsPlace) {
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
    const plat::sim::ScreenShot shot = plat::sim::Screen();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 12; ++x) {
            const bool inside = x >= 2 && x < 10 && y >= 2 && y < 6;
            const std::uint32_t want = inside ? 0x5A5A5Au : 0u;
            EXPECT_EQ(Bgr(readBack.bits + (y * 12 + x) * 3), want) << x << "," << y;
            const std::size_t at = ((18 + y) * static_cast<std::size_t>(shot.width) + 8 + x) * 3;
            EXPECT_EQ(Bgr(shot.bgr.data() + at), want) << "observed at " << x << "," << y;
        }
    }
    plat::SelectObject(memory, old);
    plat::DeleteDC(memory);
    EXPECT_EQ(plat::ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(plat::ReleaseDC(window, windowDc), 1);
}

// Regression: a copy from the screen into a window one row lower overlaps itself; it used to
// smear the first row down the whole window.
TEST_F(ScreenDrawTest, AnOverlappingCopyOnTheScreenMovesThePictureIntact) {
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

// Regression: the device worked out which part of a window lies on the screen, and where a
// pixel of it is, in int; a window moved near the ends of int overflowed (-INT_MIN, 240 -
// INT_MIN, a client column near INT_MAX times 3 bytes). Every window of the table is filled,
// given one pixel and a copy, and the screen is compared with a model worked out in 64 bits.
TEST_F(ScreenDrawTest, WindowsAnywhereInTheRangeOfIntDrawOnlyWhatLiesOnTheScreen) {
    constexpr int kScreenW = 7;
    constexpr int kScreenH = 5;
    plat::sim::DeviceConfig config;
    config.screenWidth = kScreenW;
    config.screenHeight = kScreenH;
    plat::sim::Reset(config);
    plat::WNDCLASS wc = TestClass();
    ASSERT_NE(plat::RegisterClass(&wc), 0);
    plat::HWND window = MakeWindow(u"anywhere", 1, 1);
    ASSERT_NE(window, nullptr);

    Section pattern(kScreenW, -kScreenH, 24);
    const int patternRow = (kScreenW * 3 + 3) / 4 * 4;
    for (int y = 0; y < kScreenH; ++y) {
        for (int x = 0; x < kScreenW; ++x) {
            std::uint8_t* at = pattern.bits + y * patternRow + x * 3;
            at[0] = static_cast<std::uint8_t>(16 * y + x + 1);
            at[1] = 0x40;
            at[2] = 0x80;
        }
    }
    HDC memory = plat::CreateCompatibleDC(nullptr);
    plat::HGDIOBJ old = plat::SelectObject(memory, pattern.bitmap);
    HDC screen = plat::GetDC(nullptr);
    plat::HBRUSH black = plat::CreateSolidBrush(0);
    plat::HBRUSH fill = plat::CreateSolidBrush(0x00112233);
    plat::HBRUSH point = plat::CreateSolidBrush(0x00445566);
    const plat::RECT wholeScreen{0, 0, kScreenW, kScreenH};
    const plat::RECT everything{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    const auto toInt = [](std::int64_t v) {
        return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
    };

    const int positions[] = {INT_MIN, INT_MIN + 1, -INT_MAX + 3, -8,     -1, 0, 3,
                             6,       7,           INT_MAX - 5,  INT_MAX};
    const int sizes[] = {1, 4, INT_MAX};
    int checked = 0;
    for (const int x : positions) {
        for (const int y : positions) {
            for (const int width : sizes) {
                for (const int height : sizes) {
                    ASSERT_TRUE(plat::MoveWindow(window, x, y, width, height, false));
                    HDC windowDc = plat::GetDC(window);
                    ASSERT_NE(windowDc, nullptr);
                    plat::FillRect(screen, &wholeScreen, black);
                    ASSERT_EQ(plat::FillRect(windowDc, &everything, fill), 1);
                    // One pixel at the window's client point over screen (3, 2), and a copy of
                    // the pattern one column right of the screen's origin, where those client
                    // coordinates fit an int.
                    const std::int64_t pointX = 3 - std::int64_t{x};
                    const std::int64_t pointY = 2 - std::int64_t{y};
                    const plat::RECT pointRect{toInt(pointX), toInt(pointY), toInt(pointX + 1),
                                               toInt(pointY + 1)};
                    ASSERT_EQ(plat::FillRect(windowDc, &pointRect, point), 1);
                    const int copyX = toInt(1 - std::int64_t{x});
                    const int copyY = toInt(-std::int64_t{y});
                    ASSERT_TRUE(plat::BitBlt(windowDc, copyX, copyY, INT_MAX, INT_MAX, memory, 0, 0,
                                             plat::SRCCOPY));
                    plat::ReleaseDC(window, windowDc);

                    const plat::sim::ScreenShot shot = plat::sim::Screen();
                    for (int sy = 0; sy < kScreenH; ++sy) {
                        for (int sx = 0; sx < kScreenW; ++sx) {
                            const std::int64_t cx = sx - std::int64_t{x};
                            const std::int64_t cy = sy - std::int64_t{y};
                            std::uint32_t want = 0;
                            if (cx >= 0 && cx < width && cy >= 0 && cy < height) {
                                want = 0x00112233;
                                if (cx >= pointRect.left && cx < pointRect.right &&
                                    cy >= pointRect.top && cy < pointRect.bottom) {
                                    want = 0x00445566;
                                }
                                const std::int64_t px = cx - copyX;
                                const std::int64_t py = cy - copyY;
                                if (px >= 0 && px < kScreenW && py >= 0 && py < kScreenH) {
                                    want = Bgr(pattern.bits + py * patternRow + px * 3);
                                }
                            }
                            const std::uint32_t got =
                                Bgr(shot.bgr.data() + (sy * kScreenW + sx) * 3);
                            ASSERT_EQ(got, want)
                                << "window at " << x << "," << y << " size " << width << " x "
                                << height << ", screen pixel " << sx << "," << sy;
                            ++checked;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 11 * 11 * 3 * 3 * kScreenW * kScreenH);
    plat::SelectObject(memory, old);
    plat::DeleteDC(memory);
    plat::ReleaseDC(nullptr, screen);
    for (plat::HBRUSH brush : {black, fill, point}) plat::DeleteObject(brush);
}

}  // namespace
}  // namespace platform_test
