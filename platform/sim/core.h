// The simulated device's core state: the device lock, the clock, the threads that take part in
// the device and the way they wait, and the tables of live objects that handles name. Every
// service of the core (threads and events, windows and messages, drawing) keeps its objects
// here so that Reset() can give a fresh device in one step.
//
// Locking: one device mutex guards everything below. Window procedures and observers are never
// called while it is held; pixel memory of bitmap sections is written by callers without it.
//
// Handles are numbers drawn from a counter that never repeats within the process, so a handle
// of a closed object or of an earlier device is simply unknown: no call ever dereferences a
// handle the caller passed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/draw.h"
#include "platform/sim/device.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace plat::sim::core {

constexpr std::uint64_t kNoDeadline = UINT64_MAX;
constexpr std::uint32_t kStillActive = 259;

using Lock = std::unique_lock<std::mutex>;

// A message sent from one thread to a window of another, waiting in the receiver's inbox.
struct SendRecord {
    std::uintptr_t window;
    std::uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;  // the procedure ran, or the window or its thread went away (result 0)
};

// Everything the device knows about one host thread that has used it.
struct ThreadRec {
    std::uint64_t generation = 0;  // the device (Reset count) the record belongs to
    std::thread::id hostId;
    std::uint32_t threadId = 0;  // the device's thread id
    std::string origin;          // for reports: how the thread joined the device
    int deviceRefs = 0;          // > 0: a device thread (its running holds virtual time still)
    bool retired = false;        // the thread has ended; the record is no longer in the table

    // Wait state. A waiting thread is woken by whoever changes what it waits for: the waker
    // evaluates `tryWake` under the device lock (which may consume, e.g. an auto-reset event)
    // and marks the thread runnable at once, so virtual time cannot move between the change
    // and the waiter's return.
    bool blocked = false;
    std::uint64_t blockedOrder = 0;  // when it began to wait, as a count: the longest waiter first
    std::function<bool()> tryWake;
    std::uint64_t deadline = kNoDeadline;
    const char* waitingFor = "";
    bool woken = false;
    bool timedOut = false;
    std::condition_variable cv;

    // Messages.
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SendRecord>> inbox;
    bool quitPending = false;
    int quitCode = 0;
};

// Kernel objects: threads and events. Several handles may name one object.
struct KernelItem {
    enum class Kind { Thread, Event } kind;
    explicit KernelItem(Kind k) : kind(k) {}
    virtual ~KernelItem() = default;
};

struct ThreadObject : KernelItem {
    ThreadObject() : KernelItem(Kind::Thread) {}
    LPTHREAD_START_ROUTINE start = nullptr;
    void* parameter = nullptr;
    std::shared_ptr<ThreadRec> rec;
    int priority = THREAD_PRIORITY_NORMAL;
    std::uint32_t suspendCount = 0;
    bool finished = false;
    std::uint32_t exitCode = kStillActive;
};

struct EventObject : KernelItem {
    EventObject() : KernelItem(Kind::Event) {}
    bool manualReset = false;
    bool signalled = false;
    std::u16string name;
};

struct HandleEntry {
    std::shared_ptr<KernelItem> object;
    bool deviceOwned = false;  // made by the device itself (AddNamedEvent): not the program's
};

// Windows.
struct WindowClass {
    std::u16string name;
    WNDPROC procedure = nullptr;
    std::uint16_t atom = 0;
    int windows = 0;
};

struct Timer {
    std::uint32_t periodMs = 0;
    std::uint64_t due = 0;
};

struct Window {
    std::uintptr_t id = 0;
    std::shared_ptr<WindowClass> windowClass;  // none for a foreign window
    std::u16string className;
    std::u16string title;
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    HWND owner = nullptr;
    std::shared_ptr<ThreadRec> thread;  // none for a foreign window
    bool foreign = false;
    bool alive = true;
    bool destroying = false;
    std::map<std::uintptr_t, Timer> timers;
};

// Drawing objects.
struct GdiObject {
    enum class Kind { Bitmap, Brush } kind = Kind::Bitmap;
    bool stock = false;  // belongs to the device; deleting it does nothing
    int selections = 0;  // device contexts it is selected into
    // Bitmap.
    int width = 0, height = 0, bitsPerPixel = 0;
    bool bottomUp = false;
    std::size_t stride = 0;
    std::size_t bytes = 0;
    // From calloc: the device's bitmap sections come zeroed from the system, and large ones
    // are fresh zero pages rather than a fill (see CreateDIBSection).
    struct FreeBits {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t[], FreeBits> bits;
    // Brush.
    COLORREF colour = 0;
};

struct DeviceContext {
    enum class Kind { Window, Screen, Memory } kind = Kind::Memory;
    std::uintptr_t window = 0;  // Kind::Window: the window whose client area it draws
    std::uintptr_t bitmap = 0;  // Kind::Memory: the selected bitmap
    std::uintptr_t brush = 0;
};

// The record of delivered messages. A show delivers a message to its window on every render
// pass, so a full record would grow with the show's length; this one keeps the first kHead
// messages (a window's creation and its first passes) and the latest kTail (how it ended), and
// counts the ones in between that it let go.
class MessageLog {
public:
    static constexpr std::size_t kHead = 4096;
    static constexpr std::size_t kTail = 16384;

    void Add(MessageRecord record);
    std::vector<MessageRecord> Records() const;  // kept records, in delivery order
    std::uint64_t Dropped() const { return dropped_; }

private:
    std::vector<MessageRecord> head_;
    std::vector<MessageRecord> tail_;  // a ring once full; oldest at next_
    std::size_t next_ = 0;
    std::uint64_t dropped_ = 0;
};

struct State {
    DeviceConfig config;
    std::uint64_t generation = 0;

    // Clock.
    std::uint64_t virtualNow = 0;
    std::uint64_t waitsBegun = 0;  // numbers the waits, for ThreadRec::blockedOrder
    std::chrono::steady_clock::time_point realStart;
    std::chrono::steady_clock::time_point lastProgress;
    bool stallWarned = false;

    // Threads and kernel objects.
    std::vector<std::shared_ptr<ThreadRec>> threads;
    std::vector<std::shared_ptr<ThreadObject>> createdThreads;  // for observation
    std::map<std::uintptr_t, HandleEntry> handles;
    std::map<std::u16string, std::weak_ptr<EventObject>> namedEvents;
    std::vector<std::shared_ptr<EventObject>> deviceEvents;
    int failThreadCreations = 0;
    int failWindowCreations = 0;
    int terminateCalls = 0;
    std::map<std::uint32_t, int> timerPeriods;  // open timeBeginPeriod requests by period
    std::uint32_t nextThreadId = 0x100;

    // Windows.
    std::map<std::u16string, std::shared_ptr<WindowClass>> classes;  // key: folded name
    std::map<std::uintptr_t, std::shared_ptr<Window>> windows;       // live windows
    MessageLog delivered;
    std::uint16_t nextAtom = 0xC000;

    // Drawing.
    std::vector<std::uint8_t> screen;  // width * height * 3, top-down, BGR
    // Looked up by handle on every bitmap section made and deleted (one per decoded frame), in
    // no particular order.
    // The objects live in the table's nodes: one allocation per object besides its pixels.
    std::unordered_map<std::uintptr_t, GdiObject> gdi;
    std::map<std::uintptr_t, DeviceContext> dcs;
    std::uintptr_t stockBitmap = 0;
    std::uintptr_t stockBrush = 0;
    std::size_t bitmapBytes = 0;
    std::size_t failBitmapsAbove = 0;
    std::size_t bitmapMemoryLimit = 0;
    std::shared_ptr<std::function<void(const ScreenShot&)>> screenObserver;
    bool screenObserverWantsAll = true;
    bool screenObserverHasScreen = false;  // it has been given the screen once
};

struct Device {
    std::mutex mutex;
    std::unique_ptr<State> state;
    DeviceConfig config;  // what Config() returns
};

// The process-wide device; created on first use and never destroyed (threads may still touch
// it while the process exits).
Device& Dev();
// The current state; the device lock must be held.
State& S();

// A new handle value; never repeats in the process.
std::uintptr_t NewHandleValue();

// Device time in milliseconds since Reset; the lock must be held.
std::uint64_t NowLocked();
std::uint32_t TickLocked();
// The device time `ms` from now, as a deadline: on the real clock the current millisecond is
// rounded up, so that a wait never ends before `ms` full milliseconds have passed.
std::uint64_t DeadlineAfterLocked(std::uint64_t ms);

// The calling thread's record in the current device (made on first use); lock held.
ThreadRec& SelfLocked();
std::shared_ptr<ThreadRec> SelfSharedLocked();

// Blocks the calling thread until `tryWake` holds (true) or device time reaches `deadline`
// (false). `tryWake` may be empty (a plain sleep). Lock held on entry and on return.
bool BlockUntil(Lock& lock, ThreadRec& self, std::function<bool()> tryWake, std::uint64_t deadline,
                const char* waitingFor);

// Waits for a record that another party has already marked blocked (a thread created
// suspended) to be woken.
void AwaitWake(Lock& lock, ThreadRec& self);

// Re-examines every waiting thread after a change of state: wakes those whose condition now
// holds and, on the virtual clock, moves time to the earliest deadline when no device thread
// can run. Call after every change that may end somebody's wait; lock held.
void Reevaluate();

// Called when a thread leaves the device (a created thread returned, or a host thread ended):
// destroys its windows without messages, releases sends waiting for it, drops its record.
void RetireThreadLocked(const std::shared_ptr<ThreadRec>& rec);

// Windows service helpers used across the core.
std::shared_ptr<Window> FindWindowLocked(std::uintptr_t id);
// Destroys a window without sending it anything (after WM_DESTROY, or when its thread ended).
void DestroyWindowLocked(const std::shared_ptr<Window>& window);

template <typename T>
std::uintptr_t HandleValue(T* handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}
template <typename T>
T* HandleOf(std::uintptr_t value) {
    return reinterpret_cast<T*>(value);
}

// Lower-case folding of ASCII letters for the device's case-insensitive names.
std::u16string Fold(const std::u16string& text);
std::u16string FromZ(const char16_t* text);  // "" for none

// Used by Reset: the parts of the core give their fresh state.
void ResetDrawingLocked(State& state);

}  // namespace plat::sim::core
