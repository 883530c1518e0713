// The simulated device's controls and observations: live-object counts, fault injection,
// foreign windows, the record of delivered messages, screen copies, and handles that are
// unknown, closed or of an earlier device.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/draw.h"
#include "platform/module.h"
#include "platform/sim/device.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/platform/test_window.h"

namespace platform_test {
namespace {

using plat::HANDLE;
using plat::HWND;

plat::BITMAPINFO Header(int width, int height, int bitsPerPixel) {
    plat::BITMAPINFO info{};
    info.bmiHeader = {40, width, height, 1, static_cast<std::uint16_t>(bitsPerPixel), 0, 0,
                      0,  0,     0,      0};
    return info;
}

plat::HBITMAP MakeSection(int width, int height, int bitsPerPixel, void** bits) {
    plat::BITMAPINFO info = Header(width, height, bitsPerPixel);
    return plat::CreateDIBSection(nullptr, &info, plat::DIB_PAL_COLORS, bits, nullptr, 0);
}

std::uint32_t PLAT_CALLBACK ReturnAtOnce(void*) {
    return 0;
}

using DeviceTest = WindowTest;

TEST_F(DeviceTest, LiveCountsFollowEveryKindOfObjectBackToZero) {
    const auto empty = plat::sim::Live();
    EXPECT_EQ(empty.windows, 0);
    EXPECT_EQ(empty.classes, 1);  // the test's own class
    EXPECT_EQ(empty.handles + empty.gdiObjects + empty.deviceContexts + empty.timers, 0);

    HWND window = MakeWindow();
    plat::SetTimer(window, 1, 100, nullptr);
    HANDLE event = plat::CreateEvent(nullptr, true, false, nullptr);
    HANDLE thread =
        plat::CreateThread(nullptr, 0, ReturnAtOnce, nullptr, plat::CREATE_SUSPENDED, nullptr);
    void* bits = nullptr;
    plat::HBITMAP bitmap = MakeSection(5, 2, 24, &bits);  // rows of 16 bytes
    plat::HBRUSH brush = plat::CreateSolidBrush(0);
    plat::HDC windowDc = plat::GetDC(window);
    plat::HDC memoryDc = plat::CreateCompatibleDC(windowDc);

    auto live = plat::sim::Live();
    EXPECT_EQ(live.windows, 1);
    EXPECT_EQ(live.timers, 1);
    EXPECT_EQ(live.threads, 1);
    EXPECT_EQ(live.handles, 2);
    EXPECT_EQ(live.gdiObjects, 2);
    EXPECT_EQ(live.deviceContexts, 2);
    EXPECT_EQ(live.bitmapBytes, 32u);

    plat::ResumeThread(thread);
    plat::WaitForSingleObject(thread, plat::INFINITE);
    EXPECT_EQ(plat::sim::Live().threads, 0);
    plat::DeleteDC(memoryDc);
    plat::ReleaseDC(window, windowDc);
    plat::DeleteObject(bitmap);
    plat::DeleteObject(brush);
    plat::CloseHandle(event);
    plat::CloseHandle(thread);
    plat::DestroyWindow(window);  // takes its timer along
    plat::UnregisterClass(kTestClass, nullptr);
    live = plat::sim::Live();
    EXPECT_EQ(live.windows + live.classes + live.threads + live.handles + live.gdiObjects +
                  live.deviceContexts + live.timers,
              0);
    EXPECT_EQ(live.bitmapBytes, 0u);
}

// A decode makes and deletes one section per frame, thousands in a row; the device keeps them
// in a table by handle. Made and deleted in a shuffled order, every section comes zeroed, keeps
// its own pixels while others come and go, is deleted exactly once, and the counts follow.
TEST_F(DeviceTest, SectionsMadeAndDeletedInAnyOrderKeepTheirPixelsAndCounts) {
    struct Section {
        plat::HBITMAP handle;
        std::uint8_t* bits;
        std::size_t bytes;
        std::uint8_t mark;
    };
    std::mt19937 random(24);
    std::vector<Section> live;
    std::size_t liveBytes = 0;
    auto holdsOwnMark = [](const Section& s) {
        for (std::size_t i = 0; i < s.bytes; ++i) {
            if (s.bits[i] != s.mark) return false;
        }
        return true;
    };
    for (int step = 0; step < 3000; ++step) {
        if (live.empty() || random() % 3 != 0) {
            const int width = 1 + static_cast<int>(random() % 40);
            const int height = 1 + static_cast<int>(random() % 5);
            void* bits = nullptr;
            plat::HBITMAP handle = MakeSection(width, -height, 8, &bits);
            ASSERT_NE(handle, nullptr);
            Section s{handle, static_cast<std::uint8_t*>(bits),
                      static_cast<std::size_t>((width + 3) / 4 * 4 * height),
                      static_cast<std::uint8_t>(1 + step % 255)};
            for (std::size_t i = 0; i < s.bytes; ++i) ASSERT_EQ(s.bits[i], 0) << "step " << step;
            std::memset(s.bits, s.mark, s.bytes);
            live.push_back(s);
            liveBytes += s.bytes;
        } else {
            const std::size_t at = random() % live.size();
            const Section doomed = live[at];
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
            ASSERT_TRUE(holdsOwnMark(doomed)) << "step " << step;
            EXPECT_TRUE(plat::DeleteObject(doomed.handle));
            EXPECT_FALSE(plat::DeleteObject(doomed.handle)) << "deleted twice";
            liveBytes -= doomed.bytes;
        }
        const auto counts = plat::sim::Live();
        ASSERT_EQ(counts.gdiObjects, static_cast<int>(live.size())) << "step " << step;
        ASSERT_EQ(counts.bitmapBytes, liveBytes) << "step " << step;
    }
    for (const Section& s : live) {
        EXPECT_TRUE(holdsOwnMark(s));
        EXPECT_TRUE(plat::DeleteObject(s.handle));
    }
    EXPECT_EQ(plat::sim::Live().gdiObjects, 0);
    EXPECT_EQ(plat::sim::Live().bitmapBytes, 0u);
}

TEST_F(DeviceTest, BitmapFaultsFailOnlyWhatTheyName) {
    void* bits = nullptr;
    plat::sim::FailBitmapsAbove(120);
    plat::HBITMAP fits = MakeSection(12, 10, 8, &bits);  // 120 bytes
    EXPECT_NE(fits, nullptr);
    EXPECT_EQ(MakeSection(13, 10, 8, &bits), nullptr);  // rows padded to 16: 160 bytes
    EXPECT_EQ(bits, nullptr);
    plat::sim::FailBitmapsAbove(0);

    plat::sim::SetBitmapMemoryLimit(300);
    plat::HBITMAP second = MakeSection(12, 15, 8, &bits);  // 180 more: 300 in all
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(MakeSection(1, 1, 8, &bits), nullptr);
    plat::DeleteObject(fits);
    plat::HBITMAP third = MakeSection(1, 1, 8, &bits);  // room again
    EXPECT_NE(third, nullptr);
    plat::DeleteObject(second);
    plat::DeleteObject(third);
}

TEST_F(DeviceTest, ThreadCreationFaultsFailTheNextCreations) {
    plat::sim::FailThreadCreation(1);
    EXPECT_EQ(plat::CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr), nullptr);
    HANDLE thread = plat::CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    plat::WaitForSingleObject(thread, plat::INFINITE);
    plat::CloseHandle(thread);
    plat::sim::FailThreadCreation(-1);
    EXPECT_EQ(plat::CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(plat::CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr), nullptr);
}

TEST_F(DeviceTest, TerminateIsRefusedAndCounted) {
    HANDLE thread =
        plat::CreateThread(nullptr, 0, ReturnAtOnce, nullptr, plat::CREATE_SUSPENDED, nullptr);
    EXPECT_FALSE(plat::TerminateThread(thread, 0xFFFFFF91));
    EXPECT_EQ(plat::sim::TerminateThreadCalls(), 1);
    plat::SetThreadPriority(thread, 2);
    auto threads = plat::sim::Threads();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_TRUE(threads[0].suspended);
    EXPECT_EQ(threads[0].priority, 2);
    plat::ResumeThread(thread);
    plat::WaitForSingleObject(thread, plat::INFINITE);
    threads = plat::sim::Threads();
    EXPECT_TRUE(threads[0].finished);
    EXPECT_EQ(threads[0].exitCode, 0u);
    plat::CloseHandle(thread);
}

TEST_F(DeviceTest, AForeignWindowIsFoundAndClosesWhenAskedButIsNotTheDevicesOwn) {
    HWND player = plat::sim::AddForeignWindow(u"WMP for Mobile Devices", u"Player");
    EXPECT_EQ(plat::FindWindow(u"WMP for Mobile Devices", nullptr), player);
    EXPECT_EQ(plat::sim::Live().windows, 0);
    EXPECT_TRUE(plat::PostMessage(player, plat::WM_USER, 0, 0));
    EXPECT_TRUE(plat::IsWindow(player));
    EXPECT_TRUE(plat::PostMessage(player, plat::WM_CLOSE, 0, 0));
    EXPECT_FALSE(plat::IsWindow(player));
    EXPECT_EQ(plat::FindWindow(u"WMP for Mobile Devices", nullptr), nullptr);
    const auto delivered = plat::sim::DeliveredMessages();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[1].windowClass, u"WMP for Mobile Devices");
    EXPECT_EQ(delivered[1].message, plat::WM_CLOSE);
}

TEST_F(DeviceTest, DeliveredMessagesSayHowAndWhenTheyCame) {
    HWND window = MakeWindow(u"observed");
    plat::PostMessage(window, plat::WM_USER, 1, 2);
    plat::Sleep(40);
    plat::SendMessage(window, plat::WM_USER + 1, 3, 4);
    plat::MSG message{};
    PumpOne(&message);
    plat::DestroyWindow(window);

    struct Expected {
        std::uint64_t timeMs;
        std::uint32_t message;
        plat::WPARAM wParam;
        bool sent;
    };
    const Expected expected[] = {
        {0, plat::WM_CREATE, 0, true},
        {40, plat::WM_USER + 1, 3, true},
        {40, plat::WM_USER, 1, false},
        {40, plat::WM_DESTROY, 0, true},
    };
    const auto delivered = plat::sim::DeliveredMessages();
    ASSERT_EQ(delivered.size(), std::size(expected));
    for (std::size_t i = 0; i < delivered.size(); ++i) {
        EXPECT_EQ(delivered[i].timeMs, expected[i].timeMs) << i;
        EXPECT_EQ(delivered[i].message, expected[i].message) << i;
        EXPECT_EQ(delivered[i].wParam, expected[i].wParam) << i;
        EXPECT_EQ(delivered[i].sent, expected[i].sent) << i;
        EXPECT_EQ(delivered[i].window, window);
        EXPECT_EQ(delivered[i].windowClass, kTestClass);
    }
}

TEST_F(DeviceTest, TheMessageRecordKeepsItsFirstAndLatestMessagesAndStaysBounded) {
    // A long show sends its window a message on every pass; the record must not grow with it.
    HWND window = MakeWindow(u"observed");
    constexpr std::uint64_t kSent = 50000;
    for (std::uint64_t i = 1; i <= kSent; ++i) plat::SendMessage(window, plat::WM_USER, i, 0);
    const auto delivered = plat::sim::DeliveredMessages();
    const std::uint64_t total = kSent + 1;  // and WM_CREATE
    EXPECT_EQ(delivered.size(), 4096u + 16384u);
    EXPECT_EQ(plat::sim::DroppedMessages(), total - delivered.size());
    EXPECT_EQ(delivered.front().message, plat::WM_CREATE);
    EXPECT_EQ(delivered[4095].wParam, 4095u);
    EXPECT_EQ(delivered[4096].wParam, kSent - 16384 + 1);
    EXPECT_EQ(delivered.back().wParam, kSent);
}

TEST_F(DeviceTest, WindowsAreRecordedAsCreated) {
    HWND owner = MakeWindow(u"owner");
    HWND window = plat::CreateWindowEx(0x60000008, kTestClass, u"StartUpAnimation", 0x10000000, 0,
                                       0, 240, 320, owner, nullptr, nullptr, nullptr);
    const auto windows = plat::sim::Windows();
    ASSERT_EQ(windows.size(), 2u);
    const auto& info = windows[1];
    EXPECT_EQ(info.window, window);
    EXPECT_EQ(info.className, kTestClass);
    EXPECT_EQ(info.title, u"StartUpAnimation");
    EXPECT_EQ(info.exStyle, 0x60000008u);
    EXPECT_EQ(info.style, 0x10000000u);
    EXPECT_EQ(info.owner, owner);
    EXPECT_EQ(info.width, 240);
    EXPECT_EQ(info.height, 320);
    EXPECT_FALSE(info.foreign);
    plat::DestroyWindow(window);
}

TEST_F(DeviceTest, AnObserverOfChangesIsGivenTheScreenOnlyWhenACopyChangesIt) {
    HWND window = MakeWindow(u"shown", 4, 2, 1, 1);
    void* bits = nullptr;
    plat::HBITMAP picture = MakeSection(4, -2, 24, &bits);
    std::memset(bits, 0x7F, 4 * 2 * 3);
    plat::HDC windowDc = plat::GetDC(window);
    plat::HDC memory = plat::CreateCompatibleDC(windowDc);
    plat::HGDIOBJ old = plat::SelectObject(memory, picture);
    for (const auto what : {plat::sim::ScreenCopies::Changes, plat::sim::ScreenCopies::All}) {
        std::vector<plat::sim::ScreenShot> shots;
        plat::sim::SetScreenCopyObserver(
            [&](const plat::sim::ScreenShot& shot) { shots.push_back(shot); }, what);
        const bool all = what == plat::sim::ScreenCopies::All;
        // Copies: the picture (a change), the same again, a
        // changed picture, the same again.
        for (std::uint8_t value : {0x7F, 0x7F, 0x30, 0x30}) {
            std::memset(bits, value, 4 * 2 * 3);
            ASSERT_TRUE(plat::BitBlt(windowDc, 0, 0, 4, 2, memory, 0, 0, plat::SRCCOPY));
        }
        ASSERT_EQ(shots.size(), 4u);
        EXPECT_TRUE(shots[0].changed);
        EXPECT_FALSE(shots[0].bgr.empty()) << "the first copy gives the screen";
        EXPECT_FALSE(shots[1].changed);
        EXPECT_EQ(shots[1].bgr.empty(), !all);
        EXPECT_TRUE(shots[2].changed);
        EXPECT_EQ(shots[2].bgr, plat::sim::Screen().bgr);
        EXPECT_FALSE(shots[3].changed);
        EXPECT_EQ(shots[3].bgr.empty(), !all);
        std::memset(bits, 0x7F, 4 * 2 * 3);
    }
    plat::sim::SetScreenCopyObserver(nullptr);
    plat::SelectObject(memory, old);
    plat::DeleteDC(memory);
    plat::ReleaseDC(window, windowDc);
    plat::DeleteObject(picture);
    plat::DestroyWindow(window);
}

TEST_F(DeviceTest, ACopyToAWindowIsObservedWithTheScreenAndTheTime) {
    HWND window = MakeWindow(u"shown", 4, 2, 1, 1);
    std::vector<plat::sim::ScreenShot> shots;
    plat::sim::SetScreenCopyObserver(
        [&](const plat::sim::ScreenShot& shot) { shots.push_back(shot); });
    void* bits = nullptr;
    plat::HBITMAP picture = MakeSection(4, -2, 24, &bits);
    std::memset(bits, 0x7F, 4 * 2 * 3);
    plat::HDC windowDc = plat::GetDC(window);
    plat::HDC memory = plat::CreateCompatibleDC(windowDc);
    plat::HGDIOBJ old = plat::SelectObject(memory, picture);
    plat::Sleep(25);
    // Larger than the window: clipped to it.
    ASSERT_TRUE(plat::BitBlt(windowDc, -2, 0, 10, 10, memory, 0, 0, plat::SRCCOPY));
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_EQ(shots[0].timeMs, 25u);
    ASSERT_EQ(shots[0].width, 240);
    ASSERT_EQ(shots[0].bgr.size(), 240u * 320u * 3u);
    auto pixel = [&](int x, int y) { return shots[0].bgr[(y * 240 + x) * 3]; };
    // The window spans x 1-4, y 1-2; the copy starts 2 pixels left of it.
    EXPECT_EQ(pixel(0, 1), 0);
    EXPECT_EQ(pixel(1, 1), 0x7F);
    EXPECT_EQ(pixel(2, 2), 0x7F);
    EXPECT_EQ(pixel(3, 2), 0);  // source ran out: 4 pixels wide from x = -2
    EXPECT_EQ(pixel(1, 3), 0);
    EXPECT_EQ(plat::sim::Screen().bgr, shots[0].bgr);

    // A window that is gone takes copies to its context nowhere.
    plat::DestroyWindow(window);
    EXPECT_FALSE(plat::BitBlt(windowDc, 0, 0, 4, 2, memory, 0, 0, plat::SRCCOPY));
    EXPECT_EQ(shots.size(), 1u);
    plat::sim::SetScreenCopyObserver(nullptr);
    plat::SelectObject(memory, old);
    plat::DeleteDC(memory);
    EXPECT_EQ(plat::ReleaseDC(window, windowDc), 1);
    plat::DeleteObject(picture);
}

TEST_F(DeviceTest, ASelectedBitmapIsNotDeletedAndNotSelectedTwice) {
    void* bits = nullptr;
    plat::HBITMAP bitmap = MakeSection(4, 4, 24, &bits);
    plat::HDC one = plat::CreateCompatibleDC(nullptr);
    plat::HDC two = plat::CreateCompatibleDC(nullptr);
    plat::HGDIOBJ old = plat::SelectObject(one, bitmap);
    EXPECT_EQ(plat::SelectObject(two, bitmap), nullptr);
    EXPECT_FALSE(plat::DeleteObject(bitmap));
    plat::SelectObject(one, old);
    EXPECT_TRUE(plat::DeleteObject(bitmap));
    plat::DeleteDC(one);
    plat::DeleteDC(two);
}

// A thread that owns a window and ends without destroying it.
std::uint32_t PLAT_CALLBACK OwnAWindowAndEnd(void* parameter) {
    *static_cast<HWND*>(parameter) = plat::CreateWindowEx(0, kTestClass, u"orphan", 0, 0, 0, 1, 1,
                                                          nullptr, nullptr, nullptr, nullptr);
    plat::Sleep(100);
    return 0;
}

TEST_F(DeviceTest, AThreadThatEndsTakesItsWindowsAndReleasesSendsToThem) {
    HWND orphan = nullptr;
    HANDLE thread = plat::CreateThread(nullptr, 0, OwnAWindowAndEnd, &orphan, 0, nullptr);
    plat::Sleep(10);
    ASSERT_NE(orphan, nullptr);
    EXPECT_EQ(plat::SendMessage(orphan, plat::WM_USER, 0, 0), 0);  // released at 100 ms
    EXPECT_EQ(plat::sim::Now(), 100u);
    EXPECT_FALSE(plat::IsWindow(orphan));
    plat::WaitForSingleObject(thread, plat::INFINITE);
    plat::CloseHandle(thread);
}

TEST_F(DeviceTest, HandlesOfAnEarlierDeviceAreUnknown) {
    HANDLE event = plat::CreateEvent(nullptr, true, true, u"PlatformTestOld");
    HWND window = MakeWindow();
    plat::HBRUSH brush = plat::CreateSolidBrush(0);
    plat::sim::Reset();
    EXPECT_EQ(plat::WaitForSingleObject(event, 0), plat::WAIT_FAILED);
    EXPECT_EQ(plat::OpenEvent(plat::EVENT_ALL_ACCESS, false, u"PlatformTestOld"), nullptr);
    EXPECT_FALSE(plat::IsWindow(window));
    EXPECT_FALSE(plat::DeleteObject(brush));
    EXPECT_EQ(plat::sim::Live().classes, 0);
    plat::WNDCLASS wc = TestClass();
    plat::RegisterClass(&wc);  // for TearDown
}

TEST_F(DeviceTest, ANamedEventOfTheDeviceOpensAndIsNotCountedAsTheProgramsHandle) {
    HANDLE own = plat::sim::AddNamedEvent(u"SHUTDOWN_ANIMATION_DONE");
    HANDLE opened = plat::OpenEvent(plat::EVENT_ALL_ACCESS, false, u"SHUTDOWN_ANIMATION_DONE");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(plat::sim::Live().handles, 1);
    plat::SetEvent(opened);
    plat::CloseHandle(opened);
    EXPECT_EQ(plat::WaitForSingleObject(own, 0), plat::WAIT_OBJECT_0);  // auto-reset
    EXPECT_EQ(plat::WaitForSingleObject(own, 0), plat::WAIT_TIMEOUT);
}

}  // namespace
}  // namespace platform_test
