// Drawing through the screen's device context on the simulated device, where windows draw
// straight into the one screen picture. (A real window system composes windows itself: what its
// screen context reads back need not be what the windows show, so these stay here.)
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace platform_test
