// The simulated device itself: the clock, the threads that take part in it and how they wait,
// Reset and the live-object counts. See core.h for the model.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/sim/core.h"
#include "platform/sim/internal.h"

namespace plat::sim::core {

namespace {

using Clock = std::chrono::steady_clock;

// The calling thread's record; its destructor tells the device that the thread has ended, so
// that sends waiting for the thread's windows are released.
struct ThreadSlot {
    std::shared_ptr<ThreadRec> rec;
    ~ThreadSlot() {
        if (!rec) return;
        Device& dev = Dev();
        Lock lock(dev.mutex);
        if (dev.state && !rec->retired && rec->generation == dev.state->generation) {
            RetireThreadLocked(rec);
        }
    }
};
thread_local ThreadSlot t_slot;

std::atomic<std::uintptr_t> g_nextHandle{0x10000};

bool IsDeviceThread(const ThreadRec& rec) {
    return rec.deviceRefs > 0 && !rec.retired;
}

void Unblock(ThreadRec& rec, bool timedOut) {
    rec.blocked = false;
    rec.woken = true;
    rec.timedOut = timedOut;
    rec.tryWake = nullptr;  // let go of what the wait held on to
    rec.cv.notify_all();
    S().lastProgress = Clock::now();
    S().stallWarned = false;
}

// Reports a deadlock of the program under test and aborts: every waiting thread waits with no
// deadline and nothing has changed for the configured grace.
[[noreturn]] void ReportDeadlock(State& s) {
    std::fprintf(stderr,
                 "simulated device: deadlock at device time %llu ms: every thread waits and "
                 "nothing can wake it\n",
                 static_cast<unsigned long long>(NowLocked()));
    for (const auto& rec : s.threads) {
        std::fprintf(stderr, "  thread %#x (%s%s): %s\n", rec->threadId, rec->origin.c_str(),
                     IsDeviceThread(*rec) ? "" : ", not a device thread",
                     rec->blocked ? rec->waitingFor : "running outside the platform");
    }
    std::fflush(stderr);
    std::abort();
}

// Looks for a deadlock or a stall while a thread waits (called about once a second).
void Watchdog(State& s) {
    const auto now = Clock::now();
    const auto quiet =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - s.lastProgress).count();
    bool anyRunnable = false, anyDeadline = false, anyBlocked = false;
    for (const auto& rec : s.threads) {
        if (rec->blocked) {
            anyBlocked = true;
            if (rec->deadline != kNoDeadline) anyDeadline = true;
        } else if (IsDeviceThread(*rec)) {
            anyRunnable = true;
        }
    }
    if (s.config.deadlockGraceMs != 0 && anyBlocked && !anyRunnable && !anyDeadline &&
        quiet >= s.config.deadlockGraceMs) {
        ReportDeadlock(s);
    }
    // A device thread that blocks outside the platform (a join, a mutex) holds virtual time
    // still for ever; say so once, since it looks like a hang.
    if (s.config.clock == ClockMode::Virtual && anyRunnable && anyDeadline && !s.stallWarned &&
        quiet >= 60000) {
        s.stallWarned = true;
        std::fprintf(stderr,
                     "simulated device: virtual time has not moved for %lld s at %llu ms while "
                     "a device thread runs:\n",
                     static_cast<long long>(quiet / 1000),
                     static_cast<unsigned long long>(NowLocked()));
        for (const auto& rec : s.threads) {
            std::fprintf(stderr, "  thread %#x (%s): %s\n", rec->threadId, rec->origin.c_str(),
                         rec->blocked ? rec->waitingFor
                                      : (IsDeviceThread(*rec) ? "running" : "not a device thread"));
        }
    }
}

}  // namespace

Device& Dev() {
    static Device* device = [] {
        auto* d = new Device();
        d->state = std::make_unique<State>();
        d->state->realStart = d->state->lastProgress = Clock::now();
        d->state->generation = 1;
        d->state->screen.assign(
            static_cast<std::size_t>(d->config.screenWidth) * d->config.screenHeight * 3, 0);
        ResetDrawingLocked(*d->state);
        return d;
    }();
    return *device;
}

State& S() {
    return *Dev().state;
}

std::uintptr_t NewHandleValue() {
    return g_nextHandle.fetch_add(4);
}

std::uint64_t NowLocked() {
    State& s = S();
    if (s.config.clock == ClockMode::Virtual) return s.virtualNow;
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - s.realStart).count());
}

std::uint64_t DeadlineAfterLocked(std::uint64_t ms) {
    State& s = S();
    if (s.config.clock == ClockMode::Virtual) return s.virtualNow + ms;
    const auto elapsed = Clock::now() - s.realStart;
    const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed);
    return static_cast<std::uint64_t>(whole.count()) + (elapsed > whole ? 1 : 0) + ms;
}

std::uint32_t TickLocked() {
    return static_cast<std::uint32_t>(S().config.tickStart + NowLocked());
}

std::shared_ptr<ThreadRec> SelfSharedLocked() {
    State& s = S();
    auto& rec = t_slot.rec;
    if (rec && !rec->retired && rec->generation == s.generation) return rec;
    const auto id = std::this_thread::get_id();
    for (const auto& r : s.threads) {
        if (r->hostId == id) {
            rec = r;
            return rec;
        }
    }
    rec = std::make_shared<ThreadRec>();
    rec->generation = s.generation;
    rec->hostId = id;
    rec->threadId = s.nextThreadId++;
    rec->origin = "host thread";
    s.threads.push_back(rec);
    return rec;
}

ThreadRec& SelfLocked() {
    return *SelfSharedLocked();
}

void Reevaluate() {
    State& s = S();
    const bool virtualClock = s.config.clock == ClockMode::Virtual;
    for (;;) {
        const std::uint64_t now = NowLocked();
        bool anyRunnable = false;
        std::uint64_t earliest = kNoDeadline;
        // On the virtual clock, device threads whose time has come run one at a time, the one
        // that has waited longest first: two threads due at the same instant (a window's timer
        // and a render pass) then meet in the same order on every run, whatever the host's
        // scheduler does. The next one wakes when the one running waits again.
        ThreadRec* due = nullptr;
        for (const auto& rec : s.threads) {
            if (rec->blocked) {
                if (rec->tryWake && rec->tryWake()) {
                    Unblock(*rec, false);
                } else if (rec->deadline <= now) {
                    if (!virtualClock || !IsDeviceThread(*rec)) {
                        Unblock(*rec, true);
                    } else if (due == nullptr || rec->blockedOrder < due->blockedOrder) {
                        due = rec.get();
                    }
                } else {
                    earliest = std::min(earliest, rec->deadline);
                }
            }
            if (!rec->blocked && IsDeviceThread(*rec)) anyRunnable = true;
        }
        if (due != nullptr) {
            if (!anyRunnable) Unblock(*due, true);
            return;
        }
        if (!virtualClock || anyRunnable || earliest == kNoDeadline) return;
        // Nobody can run: the next thing that happens is the earliest deadline.
        s.virtualNow = earliest;
    }
}

void AwaitWake(Lock& lock, ThreadRec& self) {
    while (!self.woken) {
        State& s = S();
        if (self.retired || self.generation != s.generation) {
            // The device was reset under this waiting thread (a test that ended without
            // ending its threads). Waking it would let it run on into the next device, so it
            // stays asleep.
            self.cv.wait(lock);
            continue;
        }
        auto limit = Clock::now() + std::chrono::seconds(1);
        if (s.config.clock == ClockMode::Real && self.deadline != kNoDeadline) {
            limit = std::min(limit, s.realStart + std::chrono::milliseconds(self.deadline));
        }
        self.cv.wait_until(lock, limit);
        if (self.woken) break;
        // On the virtual clock only Reevaluate wakes a thread for its deadline (in turn).
        if (s.config.clock == ClockMode::Real && self.deadline != kNoDeadline &&
            NowLocked() >= self.deadline) {
            Unblock(self, true);
            break;
        }
        Watchdog(s);
    }
}

bool BlockUntil(Lock& lock, ThreadRec& self, std::function<bool()> tryWake, std::uint64_t deadline,
                const char* waitingFor) {
    if (tryWake && tryWake()) return true;
    if (deadline != kNoDeadline && NowLocked() >= deadline) return false;
    self.blocked = true;
    self.woken = false;
    self.timedOut = false;
    self.tryWake = std::move(tryWake);
    self.deadline = deadline;
    self.blockedOrder = ++S().waitsBegun;
    self.waitingFor = waitingFor;
    Reevaluate();
    AwaitWake(lock, self);
    self.deadline = kNoDeadline;
    return !self.timedOut;
}

void RetireThreadLocked(const std::shared_ptr<ThreadRec>& rec) {
    State& s = S();
    std::vector<std::shared_ptr<Window>> own;
    for (const auto& [id, w] : s.windows) {
        if (w->thread == rec) own.push_back(w);
    }
    for (const auto& w : own) DestroyWindowLocked(w);
    for (const auto& send : rec->inbox) {
        send->done = true;
        send->result = 0;
    }
    rec->inbox.clear();
    rec->posted.clear();
    rec->retired = true;
    rec->blocked = false;
    rec->tryWake = nullptr;
    s.threads.erase(std::remove(s.threads.begin(), s.threads.end(), rec), s.threads.end());
    Reevaluate();
}

std::u16string Fold(const std::u16string& text) {
    std::u16string folded(text);
    for (auto& c : folded) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return folded;
}

std::u16string FromZ(const char16_t* text) {
    return text ? std::u16string(text) : u"";
}

}  // namespace plat::sim::core

namespace plat::sim {

using namespace core;

void Reset(const DeviceConfig& config) {
    Device& dev = Dev();
    {
        Lock lock(dev.mutex);
        auto fresh = std::make_unique<State>();
        fresh->config = config;
        fresh->config.screenWidth = std::max(config.screenWidth, 1);
        fresh->config.screenHeight = std::max(config.screenHeight, 1);
        fresh->generation = dev.state->generation + 1;
        fresh->nextThreadId = dev.state->nextThreadId;
        fresh->realStart = fresh->lastProgress = std::chrono::steady_clock::now();
        fresh->screen.assign(
            static_cast<std::size_t>(fresh->config.screenWidth) * fresh->config.screenHeight * 3,
            0);
        ResetDrawingLocked(*fresh);
        // Records of the old device are left to their threads; they no longer count.
        for (const auto& rec : dev.state->threads) {
            rec->retired = true;
            for (const auto& send : rec->inbox) send->done = true;
            rec->cv.notify_all();
        }
        auto old = std::move(dev.state);
        dev.state = std::move(fresh);
        dev.config = dev.state->config;
        auto& self = SelfLocked();
        self.deviceRefs = 1;
        self.origin = "the thread that called Reset";
        lock.unlock();
        old.reset();  // frees the old device's bitmaps outside the lock
    }
    detail::ResetRegistry();
    detail::ResetFiles(config.deviceRoot);
    detail::ResetSound();
}

const DeviceConfig& Config() {
    return Dev().config;
}

std::uint64_t Now() {
    Lock lock(Dev().mutex);
    return NowLocked();
}

DeviceThreadScope::DeviceThreadScope() {
    Lock lock(Dev().mutex);
    auto& self = SelfLocked();
    if (self.deviceRefs == 0) self.origin = "a DeviceThreadScope";
    ++self.deviceRefs;
}

DeviceThreadScope::~DeviceThreadScope() {
    Lock lock(Dev().mutex);
    auto& self = SelfLocked();
    if (self.deviceRefs > 0) --self.deviceRefs;
    Reevaluate();
}

OffDeviceScope::OffDeviceScope() {
    Lock lock(Dev().mutex);
    auto& self = SelfLocked();
    savedRefs_ = self.deviceRefs;
    self.deviceRefs = 0;
    Reevaluate();
}

OffDeviceScope::~OffDeviceScope() {
    Lock lock(Dev().mutex);
    SelfLocked().deviceRefs += savedRefs_;
}

Counts Live() {
    Lock lock(Dev().mutex);
    State& s = S();
    Counts c{};
    for (const auto& [id, w] : s.windows) {
        if (!w->foreign) ++c.windows;
        c.timers += static_cast<int>(w->timers.size());
    }
    c.classes = static_cast<int>(s.classes.size());
    for (const auto& t : s.createdThreads) {
        if (!t->finished) ++c.threads;
    }
    for (const auto& [id, h] : s.handles) {
        if (!h.deviceOwned) ++c.handles;
    }
    for (const auto& [id, g] : s.gdi) {
        if (!g.stock) ++c.gdiObjects;
    }
    c.deviceContexts = static_cast<int>(s.dcs.size());
    c.bitmapBytes = s.bitmapBytes;
    return c;
}

}  // namespace plat::sim
