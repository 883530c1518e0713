// Window classes and windows: registration, creation with its create message, default close
// processing, finding windows, client rectangles and screen metrics.
#include "platform/window.h"

#include <gtest/gtest.h>

#include "tests/platform/test_window.h"

namespace platform_test {
namespace {

using plat::HWND;
using plat::MSG;

using WindowClassTest = WindowTest;

TEST_F(WindowClassTest, ANameCanBeRegisteredOnceIgnoringCase) {
    plat::WNDCLASS again = TestClass(u"PLATFORMTESTWINDOW");
    EXPECT_EQ(plat::RegisterClass(&again), 0);
    plat::WNDCLASS other = TestClass(u"PlatformTestOther");
    EXPECT_NE(plat::RegisterClass(&other), 0);
    EXPECT_TRUE(plat::UnregisterClass(u"platformtestother", nullptr));
    EXPECT_FALSE(plat::UnregisterClass(u"PlatformTestOther", nullptr));
}

TEST_F(WindowClassTest, UnusableClassesAreRefused) {
    plat::WNDCLASS noProcedure = TestClass(u"PlatformTestNoProc");
    noProcedure.lpfnWndProc = nullptr;
    plat::WNDCLASS noName = TestClass(nullptr);
    plat::WNDCLASS emptyName = TestClass(u"");
    EXPECT_EQ(plat::RegisterClass(&noProcedure), 0);
    EXPECT_EQ(plat::RegisterClass(&noName), 0);
    EXPECT_EQ(plat::RegisterClass(&emptyName), 0);
    EXPECT_EQ(plat::RegisterClass(nullptr), 0);
}

TEST_F(WindowClassTest, AClassStaysWhileItHasWindows) {
    HWND window = MakeWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(plat::UnregisterClass(kTestClass, nullptr));
    ASSERT_TRUE(plat::DestroyWindow(window));
    EXPECT_TRUE(plat::UnregisterClass(kTestClass, nullptr));
    plat::WNDCLASS wc = TestClass();
    EXPECT_NE(plat::RegisterClass(&wc), 0);  // the name is free again
}

TEST_F(WindowTest, CreateHandsTheCreateMessageToTheProcedureBeforeReturning) {
    bool existedDuringCreate = false;
    g_answer = [&](HWND window, std::uint32_t message, plat::WPARAM, plat::LPARAM, plat::LRESULT*) {
        if (message == plat::WM_CREATE) existedDuringCreate = plat::IsWindow(window);
        return false;
    };
    HWND window = MakeWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(existedDuringCreate);
    EXPECT_EQ(SeenMessages(window), std::vector<std::uint32_t>{plat::WM_CREATE});
    EXPECT_TRUE(plat::IsWindow(window));
}

TEST_F(WindowTest, CreateFailsForAnUnknownClassOrARefusedCreate) {
    EXPECT_EQ(plat::CreateWindowEx(0, u"NoSuchClass", u"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                   nullptr, nullptr),
              nullptr);
    g_answer = [](HWND, std::uint32_t message, plat::WPARAM, plat::LPARAM, plat::LRESULT* result) {
        if (message != plat::WM_CREATE) return false;
        *result = -1;
        return true;
    };
    EXPECT_EQ(MakeWindow(), nullptr);
    // The refused window was destroyed again and does not keep the class.
    EXPECT_TRUE(plat::UnregisterClass(kTestClass, nullptr));
    plat::WNDCLASS wc = TestClass();
    plat::RegisterClass(&wc);
}

TEST_F(WindowTest, DefaultProcessingOfCloseDestroysTheWindow) {
    HWND window = MakeWindow();
    ASSERT_TRUE(plat::PostMessage(window, plat::WM_CLOSE, 0, 0));
    MSG message{};
    ASSERT_EQ(PumpOne(&message), 1);
    EXPECT_FALSE(plat::IsWindow(window));
    const std::vector<std::uint32_t> expected = {plat::WM_CREATE, plat::WM_CLOSE, plat::WM_DESTROY};
    EXPECT_EQ(SeenMessages(window), expected);
    // Everything else gets 0 from the default processing.
    EXPECT_EQ(plat::DefWindowProc(nullptr, plat::WM_USER, 1, 2), 0);
}

TEST_F(WindowTest, FindWindowMatchesClassAndOptionallyTitle) {
    HWND first = MakeWindow(u"First");
    HWND second = MakeWindow(u"Second");
    // Under Wine the desktop is shared with the other test programs that ctest runs beside this
    // one, and they make windows of the same class; so windows are told apart by title here.
    EXPECT_NE(plat::FindWindow(kTestClass, nullptr), nullptr);
    EXPECT_EQ(plat::FindWindow(kTestClass, u"First"), first);
    EXPECT_EQ(plat::FindWindow(kTestClass, u"Second"), second);
    EXPECT_EQ(plat::FindWindow(u"platformtestwindow", u"second"), second);
    EXPECT_EQ(plat::FindWindow(kTestClass, u"Third"), nullptr);
    EXPECT_EQ(plat::FindWindow(u"NoSuchClass", nullptr), nullptr);
    plat::DestroyWindow(first);
    EXPECT_EQ(plat::FindWindow(kTestClass, u"First"), nullptr);
    EXPECT_EQ(plat::FindWindow(kTestClass, u"Second"), second);
}

TEST_F(WindowTest, AFullScreenWindowsClientAreaIsTheScreen) {
    const int width = plat::GetSystemMetrics(plat::SM_CXSCREEN);
    const int height = plat::GetSystemMetrics(plat::SM_CYSCREEN);
    EXPECT_EQ(width, ScreenWidth());
    EXPECT_EQ(height, ScreenHeight());
    HWND window = MakeWindow(u"full", width, height);
    plat::RECT client{-1, -1, -1, -1};
    ASSERT_TRUE(plat::GetClientRect(window, &client));
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
    plat::DestroyWindow(window);
    EXPECT_FALSE(plat::GetClientRect(window, &client));
    EXPECT_FALSE(plat::GetClientRect(nullptr, &client));
}

TEST_F(WindowTest, AMovedWindowsClientAreaHasTheNewSizeAtOnce) {
    HWND window = MakeWindow(u"moved", 40, 30);
    // Growing (past the screen, as a turned screen does), shrinking, and a negative size.
    const int sizes[][2] = {{ScreenWidth() + 40, ScreenHeight() + 30}, {12, 7}, {-5, 9}};
    for (const auto& size : sizes) {
        ASSERT_TRUE(plat::MoveWindow(window, 3, 4, size[0], size[1], true));
        plat::RECT client{-1, -1, -1, -1};
        ASSERT_TRUE(plat::GetClientRect(window, &client));
        EXPECT_EQ(client.right - client.left, size[0] < 0 ? 0 : size[0]);
        EXPECT_EQ(client.bottom - client.top, size[1]);
    }
    plat::DestroyWindow(window);
    EXPECT_FALSE(plat::MoveWindow(window, 0, 0, 10, 10, false));
    EXPECT_FALSE(plat::MoveWindow(nullptr, 0, 0, 10, 10, false));
}

}  // namespace
}  // namespace platform_test
