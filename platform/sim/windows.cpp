// Windows, messages and timers on the simulated device (platform/window.h, except the message
// box).
//
// Every window belongs to the thread that created it and its procedure runs only there: sends
// from other threads wait in the owner's inbox until the owner waits in GetMessage or in a send
// of its own. Timers run on device time; GetMessage makes WM_TIMER when one is due and nothing
// else is queued.
#include <algorithm>

#include "platform/sim/core.h"
#include "platform/window.h"

namespace plat::sim::core {

std::shared_ptr<Window> FindWindowLocked(std::uintptr_t id) {
    auto& windows = S().windows;
    auto it = windows.find(id);
    return it == windows.end() || !it->second->alive ? nullptr : it->second;
}

void DestroyWindowLocked(const std::shared_ptr<Window>& window) {
    State& s = S();
    if (!window->alive) return;
    window->alive = false;
    window->timers.clear();
    if (window->windowClass) --window->windowClass->windows;
    s.windows.erase(window->id);
    if (window->thread) {
        // Like the platform, destruction flushes the window's posted messages.
        auto& posted = window->thread->posted;
        posted.erase(
            std::remove_if(posted.begin(), posted.end(),
                           [&](const MSG& m) { return HandleValue(m.hwnd) == window->id; }),
            posted.end());
    }
    // Sends still waiting for the window are answered with 0.
    for (const auto& rec : s.threads) {
        auto& inbox = rec->inbox;
        for (auto it = inbox.begin(); it != inbox.end();) {
            if ((*it)->window == window->id) {
                (*it)->done = true;
                (*it)->result = 0;
                it = inbox.erase(it);
            } else {
                ++it;
            }
        }
    }
    Reevaluate();
}

void MessageLog::Add(MessageRecord record) {
    if (head_.size() < kHead) {
        head_.push_back(std::move(record));
    } else if (tail_.size() < kTail) {
        tail_.push_back(std::move(record));
    } else {
        tail_[next_] = std::move(record);
        next_ = (next_ + 1) % kTail;
        ++dropped_;
    }
}

std::vector<MessageRecord> MessageLog::Records() const {
    std::vector<MessageRecord> all;
    all.reserve(head_.size() + tail_.size());
    all.insert(all.end(), head_.begin(), head_.end());
    all.insert(all.end(), tail_.begin() + static_cast<std::ptrdiff_t>(next_), tail_.end());
    all.insert(all.end(), tail_.begin(), tail_.begin() + static_cast<std::ptrdiff_t>(next_));
    return all;
}

}  // namespace plat::sim::core

namespace plat {

using namespace sim::core;

namespace {

constexpr std::uint32_t kMinimumTimerPeriodMs = 10;

void RecordLocked(const Window& window, std::uint32_t message, WPARAM wParam, LPARAM lParam,
                  bool sent) {
    S().delivered.Add(sim::MessageRecord{NowLocked(), HandleOf<WindowObject>(window.id),
                                         window.className, message, wParam, lParam, sent});
}

// Runs the window's procedure on the calling thread (its owner) without the lock.
LRESULT CallProcedureLocked(Lock& lock, const std::shared_ptr<Window>& window,
                            std::uint32_t message, WPARAM wParam, LPARAM lParam, bool sent) {
    RecordLocked(*window, message, wParam, lParam, sent);
    WNDPROC procedure = window->windowClass->procedure;
    lock.unlock();
    const LRESULT result = procedure(HandleOf<WindowObject>(window->id), message, wParam, lParam);
    lock.lock();
    return result;
}

// A window of another program: it answers close by going away and ignores the rest.
void ForeignReceiveLocked(const std::shared_ptr<Window>& window, std::uint32_t message,
                          WPARAM wParam, LPARAM lParam, bool sent) {
    RecordLocked(*window, message, wParam, lParam, sent);
    if (message == WM_CLOSE) DestroyWindowLocked(window);
}

// Runs every send waiting for the calling thread's windows.
void ProcessInboxLocked(Lock& lock, ThreadRec& self) {
    while (!self.inbox.empty()) {
        auto send = self.inbox.front();
        self.inbox.pop_front();
        auto window = FindWindowLocked(send->window);
        LRESULT result = 0;
        if (window) {
            result =
                CallProcedureLocked(lock, window, send->message, send->wParam, send->lParam, true);
        }
        send->result = result;
        send->done = true;
        Reevaluate();
    }
}

// The calling thread's earliest due timer (ties: older window, lower id), or none.
std::shared_ptr<Window> EarliestTimerLocked(const ThreadRec& self, std::uintptr_t* timerId,
                                            std::uint64_t* due) {
    std::shared_ptr<Window> best;
    *due = kNoDeadline;
    for (const auto& [id, w] : S().windows) {
        if (w->thread.get() != &self) continue;
        for (const auto& [tid, timer] : w->timers) {
            if (timer.due < *due) {
                *due = timer.due;
                *timerId = tid;
                best = w;
            }
        }
    }
    return best;
}

}  // namespace

std::uint16_t RegisterClass(const WNDCLASS* windowClass) {
    if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName ||
        !windowClass->lpszClassName[0]) {
        return 0;
    }
    Lock lock(Dev().mutex);
    State& s = S();
    const std::u16string name(windowClass->lpszClassName);
    const std::u16string key = Fold(name);
    if (s.classes.count(key)) return 0;
    // Class atoms lie in 0xC000..0xFFFF and are reused once their class is gone, as the
    // platform's are: a process that registers and unregisters a class over and over (one show
    // after another) must never be handed 0, which callers read as failure.
    std::uint16_t atom = s.nextAtom;
    for (int tries = 0;; ++tries) {
        if (tries == 0x4000) return 0;  // every atom in use
        bool used = false;
        for (const auto& entry : s.classes) used = used || entry.second->atom == atom;
        if (!used) break;
        atom = atom == 0xFFFF ? 0xC000 : static_cast<std::uint16_t>(atom + 1);
    }
    s.nextAtom = atom == 0xFFFF ? 0xC000 : static_cast<std::uint16_t>(atom + 1);
    auto cls = std::make_shared<WindowClass>();
    cls->name = name;
    cls->procedure = windowClass->lpfnWndProc;
    cls->atom = atom;
    s.classes[key] = cls;
    return cls->atom;
}

bool UnregisterClass(const char16_t* className, HMODULE /*instance*/) {
    Lock lock(Dev().mutex);
    State& s = S();
    auto it = s.classes.find(Fold(FromZ(className)));
    if (it == s.classes.end() || it->second->windows > 0) return false;
    s.classes.erase(it);
    return true;
}

HWND CreateWindowEx(std::uint32_t exStyle, const char16_t* className, const char16_t* title,
                    std::uint32_t style, int x, int y, int width, int height, HWND owner,
                    void* /*menu*/, HMODULE /*instance*/, void* /*createParam*/) {
    Lock lock(Dev().mutex);
    State& s = S();
    auto it = s.classes.find(Fold(FromZ(className)));
    if (it == s.classes.end()) return nullptr;
    if (s.failWindowCreations != 0) {
        if (s.failWindowCreations > 0) --s.failWindowCreations;
        return nullptr;
    }
    auto window = std::make_shared<Window>();
    window->id = NewHandleValue();
    window->windowClass = it->second;
    window->className = it->second->name;
    window->title = FromZ(title);
    window->exStyle = exStyle;
    window->style = style;
    window->x = x;
    window->y = y;
    window->width = std::max(width, 0);
    window->height = std::max(height, 0);
    window->owner = owner;
    window->thread = SelfSharedLocked();
    ++window->windowClass->windows;
    s.windows[window->id] = window;
    HWND handle = HandleOf<WindowObject>(window->id);
    // The window exists (IsWindow, FindWindow) while its procedure handles the create message.
    const LRESULT created = CallProcedureLocked(lock, window, WM_CREATE, 0, 0, true);
    if (created == -1) {
        lock.unlock();
        DestroyWindow(handle);
        return nullptr;
    }
    return window->alive ? handle : nullptr;
}

bool DestroyWindow(HWND handle) {
    Lock lock(Dev().mutex);
    auto window = FindWindowLocked(HandleValue(handle));
    if (!window) return false;
    if (window->foreign) {
        DestroyWindowLocked(window);
        return true;
    }
    // Only the owner thread may destroy a window; a second destroy from inside WM_DESTROY is
    // refused.
    if (window->thread.get() != &SelfLocked() || window->destroying) return false;
    window->destroying = true;
    CallProcedureLocked(lock, window, WM_DESTROY, 0, 0, true);
    DestroyWindowLocked(window);
    return true;
}

bool IsWindow(HWND handle) {
    Lock lock(Dev().mutex);
    return FindWindowLocked(HandleValue(handle)) != nullptr;
}

HWND FindWindow(const char16_t* className, const char16_t* windowName) {
    Lock lock(Dev().mutex);
    const std::u16string cls = Fold(FromZ(className));
    const std::u16string title = Fold(FromZ(windowName));
    for (const auto& [id, w] : S().windows) {
        if (!w->alive) continue;
        if (className && Fold(w->className) != cls) continue;
        if (windowName && Fold(w->title) != title) continue;
        return HandleOf<WindowObject>(id);
    }
    return nullptr;
}

LRESULT DefWindowProc(HWND window, std::uint32_t message, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

bool GetClientRect(HWND handle, RECT* rect) {
    Lock lock(Dev().mutex);
    auto window = FindWindowLocked(HandleValue(handle));
    if (!window || !rect) return false;
    *rect = RECT{0, 0, window->width, window->height};
    return true;
}

int GetSystemMetrics(int index) {
    Lock lock(Dev().mutex);
    switch (index) {
        case SM_CXSCREEN:
            return S().config.screenWidth;
        case SM_CYSCREEN:
            return S().config.screenHeight;
        default:
            return 0;
    }
}

bool PostMessage(HWND handle, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
    Lock lock(Dev().mutex);
    std::shared_ptr<ThreadRec> target;
    if (!handle) {
        target = SelfSharedLocked();
    } else {
        auto window = FindWindowLocked(HandleValue(handle));
        if (!window) return false;
        if (window->foreign) {
            ForeignReceiveLocked(window, message, wParam, lParam, false);
            return true;
        }
        target = window->thread;
    }
    target->posted.push_back(MSG{handle, message, wParam, lParam, TickLocked(), POINT{0, 0}});
    Reevaluate();
    return true;
}

LRESULT SendMessage(HWND handle, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
    Lock lock(Dev().mutex);
    auto window = FindWindowLocked(HandleValue(handle));
    if (!window) return 0;
    if (window->foreign) {
        ForeignReceiveLocked(window, message, wParam, lParam, true);
        return 0;
    }
    auto self = SelfSharedLocked();
    if (window->thread == self) {
        return CallProcedureLocked(lock, window, message, wParam, lParam, true);
    }
    auto send = std::make_shared<SendRecord>();
    send->window = window->id;
    send->message = message;
    send->wParam = wParam;
    send->lParam = lParam;
    window->thread->inbox.push_back(send);
    Reevaluate();
    window.reset();
    // While waiting for the answer, answer the sends that come to this thread's own windows
    // (otherwise two threads sending to each other would lock up); those that have arrived when
    // the answer comes are answered before returning too.
    for (;;) {
        ThreadRec* me = self.get();
        BlockUntil(
            lock, *self, [send, me] { return send->done || !me->inbox.empty(); }, kNoDeadline,
            "SendMessage: the window's thread to answer");
        ProcessInboxLocked(lock, *self);
        if (send->done) return send->result;
    }
}

int GetMessage(MSG* message, HWND /*window*/, std::uint32_t /*filterMin*/,
               std::uint32_t /*filterMax*/) {
    if (!message) return -1;
    Lock lock(Dev().mutex);
    auto self = SelfSharedLocked();
    for (;;) {
        ProcessInboxLocked(lock, *self);
        if (!self->posted.empty()) {
            *message = self->posted.front();
            self->posted.pop_front();
            return message->message == WM_QUIT ? 0 : 1;
        }
        if (self->quitPending) {
            self->quitPending = false;
            *message = MSG{nullptr, WM_QUIT,      static_cast<WPARAM>(self->quitCode),
                           0,       TickLocked(), POINT{0, 0}};
            return 0;
        }
        std::uintptr_t timerId = 0;
        std::uint64_t due = kNoDeadline;
        auto timerWindow = EarliestTimerLocked(*self, &timerId, &due);
        const std::uint64_t now = NowLocked();
        if (timerWindow && due <= now) {
            Timer& timer = timerWindow->timers[timerId];
            // The next tick follows the period; a thread that was busy past it gets one tick,
            // not a burst.
            timer.due = due + timer.periodMs;
            if (timer.due <= now) timer.due = now + timer.periodMs;
            *message = MSG{HandleOf<WindowObject>(timerWindow->id),
                           WM_TIMER,
                           timerId,
                           0,
                           TickLocked(),
                           POINT{0, 0}};
            return 1;
        }
        ThreadRec* me = self.get();
        BlockUntil(
            lock, *self,
            [me] { return !me->posted.empty() || !me->inbox.empty() || me->quitPending; }, due,
            "GetMessage");
    }
}

bool TranslateMessage(const MSG* /*message*/) {
    return false;
}

LRESULT DispatchMessage(const MSG* message) {
    if (!message || !message->hwnd) return 0;
    Lock lock(Dev().mutex);
    auto window = FindWindowLocked(HandleValue(message->hwnd));
    if (!window || window->foreign || window->thread.get() != &SelfLocked()) return 0;
    return CallProcedureLocked(lock, window, message->message, message->wParam, message->lParam,
                               false);
}

void PostQuitMessage(int exitCode) {
    Lock lock(Dev().mutex);
    auto& self = SelfLocked();
    self.quitPending = true;
    self.quitCode = exitCode;
}

std::uintptr_t SetTimer(HWND handle, std::uintptr_t id, std::uint32_t periodMs,
                        void* /*timerProc*/) {
    Lock lock(Dev().mutex);
    auto window = FindWindowLocked(HandleValue(handle));
    // Timers of no window (thread timers) are not part of the device; a window's timers belong
    // to its own thread.
    if (!window || window->foreign || window->thread.get() != &SelfLocked()) return 0;
    const std::uint32_t period = std::max(periodMs, kMinimumTimerPeriodMs);
    window->timers[id] = Timer{period, DeadlineAfterLocked(period)};
    return id != 0 ? id : 1;
}

bool KillTimer(HWND handle, std::uintptr_t id) {
    Lock lock(Dev().mutex);
    auto window = FindWindowLocked(HandleValue(handle));
    if (!window) return false;
    return window->timers.erase(id) > 0;
}

}  // namespace plat

namespace plat::sim {

using namespace core;

HWND AddForeignWindow(const std::u16string& className, const std::u16string& title) {
    Lock lock(Dev().mutex);
    State& s = S();
    auto window = std::make_shared<Window>();
    window->id = NewHandleValue();
    window->className = className;
    window->title = title;
    window->foreign = true;
    window->width = s.config.screenWidth;
    window->height = s.config.screenHeight;
    s.windows[window->id] = window;
    return HandleOf<WindowObject>(window->id);
}

std::vector<MessageRecord> DeliveredMessages() {
    Lock lock(Dev().mutex);
    return S().delivered.Records();
}

std::uint64_t DroppedMessages() {
    Lock lock(Dev().mutex);
    return S().delivered.Dropped();
}

std::vector<WindowInfo> Windows() {
    Lock lock(Dev().mutex);
    std::vector<WindowInfo> result;
    for (const auto& [id, w] : S().windows) {
        result.push_back(WindowInfo{HandleOf<WindowObject>(id), w->className, w->title, w->exStyle,
                                    w->style, w->x, w->y, w->width, w->height, w->owner, w->foreign,
                                    static_cast<int>(w->timers.size())});
    }
    return result;
}

}  // namespace plat::sim
