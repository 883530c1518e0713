// Threads, events, waits and time on the simulated device (platform/thread.h).
//
// A thread made by CreateThread is a host thread that counts as a device thread from the moment
// it is created (so that virtual time cannot move before it first runs) until it returns.
// TerminateThread cannot be done safely in standard C++: the device refuses it and counts the
// request, since the system is designed never to need it.
#include <system_error>

#include "platform/sim/core.h"
#include "platform/thread.h"

namespace plat {

using namespace sim::core;

namespace {

constexpr int kPriorityError = 0x7FFFFFFF;

std::shared_ptr<KernelItem> FindKernelLocked(HANDLE handle) {
    auto& handles = S().handles;
    auto it = handles.find(HandleValue(handle));
    return it == handles.end() ? nullptr : it->second.object;
}

std::shared_ptr<ThreadObject> FindThreadLocked(HANDLE handle) {
    auto object = FindKernelLocked(handle);
    if (!object || object->kind != KernelItem::Kind::Thread) return nullptr;
    return std::static_pointer_cast<ThreadObject>(object);
}

std::shared_ptr<EventObject> FindEventLocked(HANDLE handle) {
    auto object = FindKernelLocked(handle);
    if (!object || object->kind != KernelItem::Kind::Event) return nullptr;
    return std::static_pointer_cast<EventObject>(object);
}

HANDLE NewKernelHandleLocked(std::shared_ptr<KernelItem> object, bool deviceOwned = false) {
    const auto value = NewHandleValue();
    S().handles[value] = HandleEntry{std::move(object), deviceOwned};
    return HandleOf<KernelObject>(value);
}

// The body of every created thread: wait while suspended, run, then leave the device.
void ThreadMain(std::shared_ptr<ThreadObject> thread, std::shared_ptr<ThreadRec> rec) {
    Device& dev = Dev();
    {
        Lock lock(dev.mutex);
        AwaitWake(lock, *rec);
    }
    const std::uint32_t exitCode = thread->start(thread->parameter);
    Lock lock(dev.mutex);
    thread->exitCode = exitCode;
    thread->finished = true;
    if (!rec->retired && dev.state->generation == rec->generation) RetireThreadLocked(rec);
}

}  // namespace

HANDLE CreateThread(void* /*security*/, std::size_t /*stackSize*/, LPTHREAD_START_ROUTINE start,
                    void* parameter, std::uint32_t flags, std::uint32_t* threadId) {
    if (!start) return nullptr;
    Lock lock(Dev().mutex);
    State& s = S();
    if (s.failThreadCreations != 0) {
        if (s.failThreadCreations > 0) --s.failThreadCreations;
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>();
    thread->start = start;
    thread->parameter = parameter;
    thread->suspendCount = (flags & CREATE_SUSPENDED) ? 1 : 0;
    auto rec = std::make_shared<ThreadRec>();
    rec->generation = s.generation;
    rec->threadId = s.nextThreadId++;
    rec->origin = "made by CreateThread";
    rec->deviceRefs = 1;
    // The new thread starts out waiting for its resumption (at once when not suspended); the
    // wait is entered here so that the thread counts as runnable before it is scheduled.
    rec->blocked = true;
    rec->waitingFor = "ResumeThread (created suspended)";
    rec->tryWake = [t = thread.get()] { return t->suspendCount == 0; };
    thread->rec = rec;
    try {
        std::thread host(ThreadMain, thread, rec);
        rec->hostId = host.get_id();
        host.detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    s.threads.push_back(rec);
    s.createdThreads.push_back(thread);
    HANDLE handle = NewKernelHandleLocked(thread);
    if (threadId) *threadId = rec->threadId;
    Reevaluate();
    return handle;
}

bool SetThreadPriority(HANDLE handle, int priority) {
    Lock lock(Dev().mutex);
    auto thread = FindThreadLocked(handle);
    if (!thread || priority < 0 || priority > 7) return false;
    thread->priority = priority;
    return true;
}

int GetThreadPriority(HANDLE handle) {
    Lock lock(Dev().mutex);
    auto thread = FindThreadLocked(handle);
    return thread ? thread->priority : kPriorityError;
}

std::uint32_t ResumeThread(HANDLE handle) {
    Lock lock(Dev().mutex);
    auto thread = FindThreadLocked(handle);
    if (!thread) return 0xFFFFFFFF;
    const std::uint32_t previous = thread->suspendCount;
    if (previous > 0 && --thread->suspendCount == 0) Reevaluate();
    return previous;
}

bool TerminateThread(HANDLE /*handle*/, std::uint32_t /*exitCode*/) {
    Lock lock(Dev().mutex);
    ++S().terminateCalls;
    return false;
}

bool GetExitCodeThread(HANDLE handle, std::uint32_t* exitCode) {
    Lock lock(Dev().mutex);
    auto thread = FindThreadLocked(handle);
    if (!thread || !exitCode) return false;
    *exitCode = thread->exitCode;
    return true;
}

HANDLE CreateEvent(void* /*security*/, bool manualReset, bool initialState, const char16_t* name) {
    Lock lock(Dev().mutex);
    State& s = S();
    const std::u16string key = FromZ(name);
    if (!key.empty()) {
        // A name that exists gives another handle to the same event; its state is kept.
        auto it = s.namedEvents.find(key);
        if (it != s.namedEvents.end()) {
            if (auto existing = it->second.lock()) return NewKernelHandleLocked(existing);
        }
    }
    auto event = std::make_shared<EventObject>();
    event->manualReset = manualReset;
    event->signalled = initialState;
    event->name = key;
    if (!key.empty()) s.namedEvents[key] = event;
    return NewKernelHandleLocked(event);
}

HANDLE OpenEvent(std::uint32_t /*access*/, bool /*inherit*/, const char16_t* name) {
    Lock lock(Dev().mutex);
    State& s = S();
    auto it = s.namedEvents.find(FromZ(name));
    if (it == s.namedEvents.end()) return nullptr;
    auto event = it->second.lock();
    if (!event) return nullptr;
    return NewKernelHandleLocked(event);
}

bool SetEvent(HANDLE handle) {
    Lock lock(Dev().mutex);
    auto event = FindEventLocked(handle);
    if (!event) return false;
    event->signalled = true;
    Reevaluate();
    return true;
}

bool ResetEvent(HANDLE handle) {
    Lock lock(Dev().mutex);
    auto event = FindEventLocked(handle);
    if (!event) return false;
    event->signalled = false;
    return true;
}

std::uint32_t WaitForSingleObject(HANDLE handle, std::uint32_t timeoutMs) {
    Lock lock(Dev().mutex);
    auto object = FindKernelLocked(handle);
    if (!object) return WAIT_FAILED;
    std::function<bool()> ready;
    const char* what;
    if (object->kind == KernelItem::Kind::Event) {
        auto* event = static_cast<EventObject*>(object.get());
        ready = [object, event] {
            if (!event->signalled) return false;
            if (!event->manualReset) event->signalled = false;  // an auto-reset event lets one go
            return true;
        };
        what = "WaitForSingleObject on an event";
    } else {
        auto* thread = static_cast<ThreadObject*>(object.get());
        ready = [object, thread] { return thread->finished; };
        what = "WaitForSingleObject on a thread";
    }
    const std::uint64_t deadline =
        timeoutMs == INFINITE ? kNoDeadline : DeadlineAfterLocked(timeoutMs);
    auto self = SelfSharedLocked();
    return BlockUntil(lock, *self, std::move(ready), deadline, what) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

bool CloseHandle(HANDLE handle) {
    Lock lock(Dev().mutex);
    auto& handles = S().handles;
    auto it = handles.find(HandleValue(handle));
    if (it == handles.end()) return false;
    auto object = std::move(it->second.object);
    handles.erase(it);
    lock.unlock();  // the object may be freed here, outside the lock
    return true;
}

std::uint32_t GetTickCount() {
    Lock lock(Dev().mutex);
    return TickLocked();
}

void Sleep(std::uint32_t ms) {
    Lock lock(Dev().mutex);
    if (ms == 0) {
        // Gives up the rest of the time slice; device time does not move.
        lock.unlock();
        std::this_thread::yield();
        return;
    }
    const std::uint64_t deadline = ms == INFINITE ? kNoDeadline : DeadlineAfterLocked(ms);
    auto self = SelfSharedLocked();
    BlockUntil(lock, *self, nullptr, deadline, "Sleep");
}

// The device's clock resolves to the millisecond whatever is asked; the requests are only
// counted, so that tests can see that every one is ended.
std::uint32_t timeBeginPeriod(std::uint32_t periodMs) {
    if (periodMs == 0) return TIMERR_NOCANDO;
    Lock lock(Dev().mutex);
    ++S().timerPeriods[periodMs];
    return TIMERR_NOERROR;
}

std::uint32_t timeEndPeriod(std::uint32_t periodMs) {
    Lock lock(Dev().mutex);
    auto& open = S().timerPeriods;
    auto it = open.find(periodMs);
    if (it == open.end()) return TIMERR_NOCANDO;
    if (--it->second == 0) open.erase(it);
    return TIMERR_NOERROR;
}

}  // namespace plat

namespace plat::sim {

using namespace core;

HANDLE AddNamedEvent(const std::u16string& name) {
    Lock lock(Dev().mutex);
    State& s = S();
    auto event = std::make_shared<EventObject>();
    event->name = name;
    s.deviceEvents.push_back(event);
    s.namedEvents[name] = event;
    return NewKernelHandleLocked(event, true);
}

void FailThreadCreation(int count) {
    Lock lock(Dev().mutex);
    S().failThreadCreations = count;
}

void FailWindowCreation(int count) {
    Lock lock(Dev().mutex);
    S().failWindowCreations = count;
}

std::vector<ThreadInfo> Threads() {
    Lock lock(Dev().mutex);
    std::vector<ThreadInfo> result;
    for (const auto& t : S().createdThreads) {
        result.push_back(ThreadInfo{t->rec->threadId, t->priority, t->suspendCount > 0, t->finished,
                                    t->exitCode});
    }
    return result;
}

int TerminateThreadCalls() {
    Lock lock(Dev().mutex);
    return S().terminateCalls;
}

int OpenTimerPeriods() {
    Lock lock(Dev().mutex);
    int open = 0;
    for (const auto& period : S().timerPeriods) open += period.second;
    return open;
}

}  // namespace plat::sim
