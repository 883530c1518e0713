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

// The messages the contract tests are about: those that the system relies on (create, destroy,
// close, quit, timer) and the tests' own (WM_USER and above). A real window system also sends a
// window many messages of its own (sizing, activation, painting, input method) in an order of
// its choosing; the tests leave those out, so that they check the same thing on every backend.
inline bool Watched(std::uint32_t message) {
    switch (message) {
        case plat::WM_CREATE:
        case plat::WM_DESTROY:
        case plat::WM_CLOSE:
        case plat::WM_QUIT:
        case plat::WM_TIMER:
            return true;
        default:
            return message >= plat::WM_USER && message < 0x8000;
    }
}

// The watched messages the recording procedure has seen, in order (optionally of one window).
inline std::vector<std::uint32_t> SeenMessages(plat::HWND window = nullptr) {
    std::lock_guard<std::mutex> lock(g_seenMutex);
    std::vector<std::uint32_t> messages;
    for (const auto& seen : g_seen) {
        if ((!window || seen.window == window) && Watched(seen.message)) {
            messages.push_back(seen.message);
        }
    }
    return messages;
}

// The records of the watched messages the recording procedure has seen, in order.
inline std::vector<Seen> SeenRecords() {
    std::lock_guard<std::mutex> lock(g_seenMutex);
    std::vector<Seen> records;
    for (const auto& seen : g_seen) {
        if (Watched(seen.message)) records.push_back(seen);
    }
    return records;
}

// Gets and dispatches messages of the calling thread until a watched one has come (messages of
// the system's own, such as painting, are dispatched on the way); returns GetMessage's result
// for it.
inline int PumpWatched(plat::MSG* message) {
    for (;;) {
        const int result = plat::GetMessage(message, nullptr, 0, 0);
        if (result > 0) {
            plat::TranslateMessage(message);
            plat::DispatchMessage(message);
        }
        if (result <= 0 || Watched(message->message)) return result;
    }
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
                          int x = 0, int y = 0, std::uint32_t exStyle = 0) {
        plat::HWND window = plat::CreateWindowEx(exStyle, kTestClass, title, 0x10000000, x, y,
                                                 width, height, nullptr, nullptr, nullptr, nullptr);
        made_.push_back(window);
        return window;
    }

    int PumpOne(plat::MSG* message) { return PumpWatched(message); }

  private:
    std::vector<plat::HWND> made_;
};

}  // namespace platform_test
