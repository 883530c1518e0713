// A window class for the contract tests whose procedure records every message it handles (with
// the thread it ran on) and can be given a per-test answer.
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "tests/platform/fixture.h"

namespace platform_test {

struct Seen {
    plat::HWND window;
    std::uint32_t message;
    plat::WPARAM wParam;
    std::thread::id thread;
};

inline std::mutex g_seenMutex;
inline std::vector<Seen> g_seen;
// When set, runs first; returning true means the message is handled with *result.
inline std::function<bool(plat::HWND, std::uint32_t, plat::WPARAM, plat::LPARAM, plat::LRESULT*)>
    g_answer;

inline plat::LRESULT PLAT_CALLBACK RecordingProc(plat::HWND window, std::uint32_t message,
                                                 plat::WPARAM wParam, plat::LPARAM lParam) {
    {
        std::lock_guard<std::mutex> lock(g_seenMutex);
        g_seen.push_back(Seen{window, message, wParam, std::this_thread::get_id()});
    }
    plat::LRESULT result = 0;
    if (g_answer && g_answer(window, message, wParam, lParam, &result)) return result;
    return plat::DefWindowProc(window, message, wParam, lParam);
}

inline constexpr const char16_t* kTestClass = u"PlatformTestWindow";

// Message numbers the recording procedure has seen, in order (optionally of one window).
inline std::vector<std::uint32_t> SeenMessages(plat::HWND window = nullptr) {
    std::lock_guard<std::mutex> lock(g_seenMutex);
    std::vector<std::uint32_t> messages;
    for (const auto& seen : g_seen) {
        if (!window || seen.window == window) messages.push_back(seen.message);
    }
    return messages;
}

inline std::vector<Seen> SeenRecords() {
    std::lock_guard<std::mutex> lock(g_seenMutex);
    return g_seen;
}

inline plat::WNDCLASS TestClass(const char16_t* name = kTestClass) {
    plat::WNDCLASS wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = name;
    return wc;
}

// Registers the recording class for the test and destroys what the test left behind.
class WindowTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        {
            std::lock_guard<std::mutex> lock(g_seenMutex);
            g_seen.clear();
        }
        g_answer = nullptr;
        plat::WNDCLASS wc = TestClass();
        ASSERT_NE(plat::RegisterClass(&wc), 0);
    }
    void TearDown() override {
        for (plat::HWND window : made_) {
            if (plat::IsWindow(window)) plat::DestroyWindow(window);
        }
        plat::UnregisterClass(kTestClass, nullptr);
        g_answer = nullptr;
    }

    plat::HWND MakeWindow(const char16_t* title = u"test", int width = 100, int height = 80,
                          int x = 0, int y = 0) {
        plat::HWND window = plat::CreateWindowEx(0, kTestClass, title, 0x10000000, x, y, width,
                                                 height, nullptr, nullptr, nullptr, nullptr);
        made_.push_back(window);
        return window;
    }

    // Gets and dispatches one message; returns GetMessage's result.
    int PumpOne(plat::MSG* message) {
        const int result = plat::GetMessage(message, nullptr, 0, 0);
        if (result > 0) {
            plat::TranslateMessage(message);
            plat::DispatchMessage(message);
        }
        return result;
    }

  private:
    std::vector<plat::HWND> made_;
};

}  // namespace platform_test
