// See show_runs.h.
#include "show_runs.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "decode/error.h"
#include "host/bootreel.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/sim/device.h"
#include "platform/thread.h"
#include "platform/window.h"

namespace reliability {

namespace {

constexpr char16_t kShowClass[] = u"StartUpAnimation";

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

// A mono 8-bit PCM WAV of the given length.
std::vector<std::uint8_t> Wav(std::uint32_t durationMs) {
    const std::uint32_t samples = durationMs * 8;  // 8000 per second
    std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F'};
    Put16(out, (36 + samples) & 0xFFFF);
    Put16(out, (36 + samples) >> 16);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0});
    out.insert(out.end(), {0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0, 'd', 'a', 't', 'a'});
    Put16(out, samples & 0xFFFF);
    Put16(out, samples >> 16);
    out.insert(out.end(), samples, 128);
    return out;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The caller's action on a device thread of its own, so that it takes part in device time.
struct Signaller {
    plat::HANDLE cancel = nullptr;
    plat::HANDLE endRequest = nullptr;
    plat::HANDLE done = nullptr;
    Action action = Action::None;
    Moment moment = Moment::DeviceTime;
    std::uint32_t delay = 0;
    const std::atomic<int>* copies = nullptr;
    const std::atomic<bool>* returned = nullptr;
    // Results, read after the thread has been waited for.
    bool acted = false;
    bool windowExisted = false;
    int copiesBefore = 0;
    std::uint64_t atMs = 0;
};

void Perform(Action action, plat::HANDLE endRequest, plat::HANDLE done) {
    switch (action) {
        case Action::EndRequest:
            plat::SetEvent(endRequest);
            break;
        case Action::Done:
            plat::SetEvent(done);
            break;
        case Action::Close:
            if (plat::HWND window = plat::FindWindow(kShowClass, nullptr)) {
                plat::PostMessage(window, plat::WM_CLOSE, 0, 0);
            }
            break;
        case Action::None:
            break;
    }
}

std::uint32_t PLAT_CALLBACK SignallerMain(void* argument) {
    auto* s = static_cast<Signaller*>(argument);
    if (s->moment == Moment::DeviceTime) {
        if (plat::WaitForSingleObject(s->cancel, s->delay) != plat::WAIT_TIMEOUT) return 0;
    } else {
        // Busy for a while in host time: device time stands still meanwhile, so the action
        // lands at a host-time moment of the show's start, which the device clock cannot name.
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::microseconds(s->delay);
        while (std::chrono::steady_clock::now() < until) {
            if (plat::WaitForSingleObject(s->cancel, 0) == plat::WAIT_OBJECT_0) return 0;
        }
    }
    if (s->returned->load()) return 0;
    s->copiesBefore = s->copies->load();
    s->windowExisted = plat::FindWindow(kShowClass, nullptr) != nullptr;
    s->atMs = plat::sim::Now();
    s->acted = true;
    Perform(s->action, s->endRequest, s->done);
    return 0;
}

std::string Describe(const plat::sim::Counts& c) {
    std::ostringstream out;
    out << "windows " << c.windows << ", classes " << c.classes << ", threads " << c.threads
        << ", handles " << c.handles << ", GDI objects " << c.gdiObjects << ", DCs "
        << c.deviceContexts << ", bitmap bytes " << c.bitmapBytes << ", timers " << c.timers;
    return out.str();
}

bool SameCounts(const plat::sim::Counts& a, const plat::sim::Counts& b) {
    return a.windows == b.windows && a.classes == b.classes && a.threads == b.threads &&
           a.handles == b.handles && a.gdiObjects == b.gdiObjects &&
           a.deviceContexts == b.deviceContexts && a.bitmapBytes == b.bitmapBytes &&
           a.timers == b.timers;
}

// Ends the process with a message when one show takes too long in host time: a call that does
// not return is the failure these runs look for, and it must not hang the run silently.
class Watchdog {
public:
    explicit Watchdog(int seconds) : seconds_(seconds), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        stop_ = true;
        thread_.join();
    }
    void Start(long show) {
        show_ = show;
        started_ = Clock::now().time_since_epoch().count();
    }
    void Stop() { started_ = 0; }

private:
    using Clock = std::chrono::steady_clock;
    void Watch() {
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const auto started = started_.load();
            if (started != 0 &&
                Clock::now().time_since_epoch().count() - started >
                    std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(seconds_))
                        .count()) {
                std::fprintf(stderr, "reliability: show %ld did not return within %d s\n",
                             show_.load(), seconds_);
                std::abort();
            }
        }
    }
    int seconds_;
    std::atomic<bool> stop_{false};
    std::atomic<long> show_{0};
    std::atomic<Clock::rep> started_{0};
    std::thread thread_;
};

// The messages that the last show's window received (runs of one message folded), with their
// device time from `sinceMs` and whether they were sent (s) or posted (p): the report of a
// show that left something behind.
std::string DescribeMessages(std::uint64_t sinceMs) {
    const std::vector<plat::sim::MessageRecord> all = plat::sim::DeliveredMessages();
    std::size_t first = all.size();
    for (std::size_t i = all.size(); i-- > 0;) {
        if (all[i].message == 1 && all[i].windowClass == kShowClass) {
            first = i;
            break;
        }
    }
    if (first == all.size()) return "no show window was created";
    std::ostringstream out;
    out << "its window's messages:";
    std::uint32_t last = 0;
    int run = 0;
    auto flush = [&] {
        if (run > 1) out << " x" << run;
    };
    for (std::size_t i = first; i < all.size(); ++i) {
        const auto& m = all[i];
        if (m.window != all[first].window) continue;
        if (run > 0 && m.message == last) {
            ++run;
            continue;
        }
        flush();
        out << " 0x" << std::hex << m.message << std::dec << "@"
            << (m.timeMs >= sinceMs ? m.timeMs - sinceMs : 0) << (m.sent ? "s" : "p");
        last = m.message;
        run = 1;
    }
    flush();
    return out.str();
}

std::string TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/bootreel-rel-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    return pattern;
}

}  // namespace

struct ShowBench::State {
    std::string root;
    plat::sim::Counts baseline{};
    int terminateCalls = 0;
    std::atomic<int> copies{0};
    long shows = 0;
    Watchdog watchdog{120};
};

ShowBench::ShowBench(int screenWidth, int screenHeight) : state_(new State) {
    static bool attached = false;
    if (!attached) {
        // Linked statically, the library is attached to the process here, as its load hook
        // would do, once for the process.
        static const char marker = 0;
        br::AttachLibrary(plat::GetModuleOfAddress(&marker));
        attached = true;
    }
    state_->root = TempFolder();
    plat::sim::DeviceConfig config;
    config.screenWidth = screenWidth;
    config.screenHeight = screenHeight;
    config.clock = plat::sim::ClockMode::Virtual;
    config.deviceRoot = state_->root;
    plat::sim::Reset(config);
    plat::sim::SetMessageBoxHandler([](const std::u16string&, const std::u16string&) {});
    plat::sim::AddNamedEvent(u"SHUTDOWN_ANIMATION_DONE");
    std::atomic<int>* copies = &state_->copies;
    plat::sim::SetScreenCopyObserver([copies](const plat::sim::ScreenShot&) { ++*copies; });
    WriteFile(state_->root + "/boot.wav", Wav(300));
    state_->baseline = plat::sim::Live();
    state_->terminateCalls = plat::sim::TerminateThreadCalls();
}

ShowBench::~ShowBench() {
    plat::sim::SetScreenCopyObserver(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(state_->root, ignored);
}

int ShowBench::ProcessThreads() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    }
    return -1;
}

ShowOutcome ShowBench::Run(const ShowPlan& plan) {
    State& s = *state_;
    const std::u16string key =
        plan.shutdown ? u"Software\\Korvel\\Shutdown" : u"Software\\Korvel\\Startup";
    if (plan.pictureInstalled) WriteFile(s.root + "/show.gif", plan.picture);
    plat::sim::SetRegistryString(plat::HKEY_ROOT_LOCAL_MACHINE, key, u"Image",
                                 plan.pictureInstalled ? u"\\show.gif" : u"\\missing.gif");
    plat::sim::SetRegistryString(plat::HKEY_ROOT_LOCAL_MACHINE, key, u"WAV", u"\\boot.wav");
    plat::sim::SetRegistryDword(plat::HKEY_ROOT_CURRENT_USER,
                                u"ControlPanel\\SoundCategories\\System", u"InitVol",
                                plan.soundMs != 0 ? 1 : 0);
    if (plan.shutdown) plat::sim::AddForeignWindow(u"WMP for Mobile Devices", u"Player");

    plat::HANDLE endRequest = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE done = plat::CreateEvent(nullptr, true, false, nullptr);
    plat::HANDLE cancel = plat::CreateEvent(nullptr, true, false, nullptr);
    std::atomic<bool> returned{false};
    s.copies = 0;

    Signaller action;
    Signaller safety;
    for (Signaller* g : {&action, &safety}) {
        g->cancel = cancel;
        g->endRequest = endRequest;
        g->done = done;
        g->copies = &s.copies;
        g->returned = &returned;
    }
    action.action = plan.action;
    action.moment = plan.moment;
    action.delay = plan.delay;
    safety.action = Action::EndRequest;
    safety.moment = Moment::DeviceTime;
    safety.delay = plan.safetyEndMs;

    std::vector<plat::HANDLE> helpers;
    if (plan.action != Action::None) {
        if (plan.moment == Moment::BeforeCall) {
            action.acted = true;
            Perform(plan.action, endRequest, done);
        } else {
            helpers.push_back(plat::CreateThread(nullptr, 0, SignallerMain, &action, 0, nullptr));
        }
    }
    if (plan.safetyEndMs != 0) {
        helpers.push_back(plat::CreateThread(nullptr, 0, SignallerMain, &safety, 0, nullptr));
    }

    ShowOutcome outcome;
    const std::uint64_t start = plat::sim::Now();
    s.watchdog.Start(++s.shows);
    if (plan.shutdown) {
        DoShutdownAnimation(nullptr, endRequest, done);
    } else {
        DoStartupAnimation(nullptr, endRequest, done);
    }
    s.watchdog.Stop();
    returned = true;
    outcome.deviceMs = plat::sim::Now() - start;
    outcome.copies = s.copies.load();

    plat::SetEvent(cancel);
    for (plat::HANDLE helper : helpers) {
        if (helper == nullptr) {
            outcome.leftovers.push_back("the caller's helper thread could not be created");
            continue;
        }
        plat::WaitForSingleObject(helper, plat::INFINITE);
        plat::CloseHandle(helper);
    }
    for (plat::HANDLE event : {endRequest, done, cancel}) plat::CloseHandle(event);
    outcome.acted = action.acted;
    outcome.copiesBeforeAction = action.copiesBefore;
    outcome.windowExisted = action.windowExisted;
    outcome.actionAtMs = action.atMs >= start ? action.atMs - start : 0;

    // The foreign window of a shut-down show answers close by disappearing; one that was not
    // asked stays and is not the show's.
    if (plan.shutdown) {
        if (plat::HWND other = plat::FindWindow(u"WMP for Mobile Devices", nullptr)) {
            plat::PostMessage(other, plat::WM_CLOSE, 0, 0);
        }
    }

    const plat::sim::Counts now = plat::sim::Live();
    if (!SameCounts(now, s.baseline)) {
        outcome.leftovers.push_back("device objects before: " + Describe(s.baseline) +
                                    "; after: " + Describe(now));
    }
    for (const auto& thread : plat::sim::Threads()) {
        if (!thread.finished) {
            outcome.leftovers.push_back("thread " + std::to_string(thread.threadId) +
                                        " still running");
        }
    }
    if (plat::sim::TerminateThreadCalls() != s.terminateCalls) {
        outcome.leftovers.push_back("a thread termination was asked for");
        s.terminateCalls = plat::sim::TerminateThreadCalls();
    }
    if (plat::FindWindow(kShowClass, nullptr) != nullptr) {
        outcome.leftovers.push_back("the show's window is still there");
    }
    if (!outcome.leftovers.empty()) {
        outcome.leftovers.push_back(DescribeMessages(start));
        // A class left registered would make every later show return at once without
        // showing anything; take it away so that the run goes on testing shows. Anything else
        // left is reported once and becomes the new baseline.
        if (now.classes > s.baseline.classes && plat::UnregisterClass(kShowClass, nullptr)) {
            outcome.leftovers.push_back("the window class had to be unregistered by the caller");
        }
        s.baseline = plat::sim::Live();
    }
    return outcome;
}

// ---- Runs --------------------------------------------------------------------------------

void RunSummary::Fail(const std::string& what) {
    ++failures;
    if (examples.size() < 10) examples.push_back(what);
}

void RunSummary::Count(const std::string& what, long by) {
    for (auto& entry : counts) {
        if (entry.first == what) {
            entry.second += by;
            return;
        }
    }
    counts.emplace_back(what, by);
}

std::string RunSummary::Line() const {
    std::ostringstream out;
    out << "reliability: " << name << " shows=" << shows << " failures=" << failures;
    for (const auto& entry : counts) out << ' ' << entry.first << '=' << entry.second;
    return out.str();
}

namespace {

void Record(RunSummary& summary, const ShowOutcome& outcome, const std::string& what) {
    ++summary.shows;
    if (outcome.leftovers.empty()) return;
    std::string all = what;
    for (const std::string& leftover : outcome.leftovers) all += "; " + leftover;
    summary.Fail(all);
}

// The screen of the truncation and corruption runs: small, so that the many thousand shows
// spend their time in decoding and playing rather than in copying pixels.
constexpr int kRunScreenWidth = 64;
constexpr int kRunScreenHeight = 80;
// A picture that would play longer is ended by the caller at this device time.
constexpr std::uint32_t kSafetyEndMs = 8000;

}  // namespace

RunSummary RunTruncation(const std::vector<CorpusFile>& corpus, std::size_t stride) {
    RunSummary summary;
    summary.name = "truncation";
    ShowBench bench(kRunScreenWidth, kRunScreenHeight);
    ShowPlan plan;
    plan.safetyEndMs = kSafetyEndMs;
    for (const CorpusFile& file : corpus) {
        summary.Count("files");
        for (std::size_t length = 0; length <= file.bytes.size(); ++length) {
            if (stride > 1 && length % stride != 0 && length != file.bytes.size()) continue;
            plan.picture.assign(file.bytes.begin(), file.bytes.begin() + length);
            const ShowOutcome outcome = bench.Run(plan);
            if (outcome.copies > 0) summary.Count("showsThatDrew");
            Record(summary, outcome, file.name + " cut to " + std::to_string(length) + " bytes");
        }
    }
    return summary;
}

RunSummary RunCorruption(const std::vector<CorpusFile>& corpus, long count, std::uint32_t seed) {
    RunSummary summary;
    summary.name = "corruption";
    ShowBench bench(kRunScreenWidth, kRunScreenHeight);
    std::mt19937 random(seed);
    ShowPlan plan;
    plan.safetyEndMs = kSafetyEndMs;
    for (long i = 0; i < count && !corpus.empty(); ++i) {
        const CorpusFile& file = corpus[random() % corpus.size()];
        if (file.bytes.empty()) continue;
        plan.picture = file.bytes;
        const int changes = 1 + static_cast<int>(random() % 8);
        std::ostringstream what;
        what << file.name << " with";
        for (int c = 0; c < changes; ++c) {
            const std::size_t at = random() % plan.picture.size();
            if (random() % 2 == 0) {
                const int bit = static_cast<int>(random() % 8);
                plan.picture[at] ^= static_cast<std::uint8_t>(1u << bit);
                what << " bit " << bit << "@" << at;
                summary.Count("bitFlips");
            } else {
                const auto value = static_cast<std::uint8_t>(random());
                plan.picture[at] = value;
                what << " byte " << static_cast<int>(value) << "@" << at;
                summary.Count("byteChanges");
            }
        }
        const ShowOutcome outcome = bench.Run(plan);
        if (outcome.copies > 0) summary.Count("showsThatDrew");
        Record(summary, outcome, what.str());
    }
    return summary;
}

// The process's thread count once threads that have finished their work have also left the
// operating system: the least of a few samples over 100 ms.
int SettledProcessThreads() {
    int least = ShowBench::ProcessThreads();
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        least = std::min(least, ShowBench::ProcessThreads());
    }
    return least;
}

// The process's thread count once it is no more than `most`. Threads that finished their work
// leave the operating system a little later, later still on a busy machine, so the count is
// read until it gets there rather than over a fixed time. Threads that never leave keep it
// above: after two minutes (a leak, not a slow machine) the count of that moment is returned
// for the caller to report.
int ProcessThreadsOnceAtMost(int most) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    int now = ShowBench::ProcessThreads();
    while (now > most && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = ShowBench::ProcessThreads();
    }
    return now;
}

RunSummary RunLoad(long count, std::uint32_t seed) {
    RunSummary summary;
    summary.name = "load";
    ShowBench bench(48, 40);
    std::mt19937 random(seed);
    const int threadsBefore = SettledProcessThreads();
    int threadsAfterFirstRound = -1;
    // Every way a show ends, in turn.
    enum Path { kLastFrame, kEndRequest, kMissing, kUnloadable, kClose, kDone, kShutdown, kPaths };
    static const char* const kPathNames[kPaths] = {
        "lastFrame", "endRequest", "missingPicture", "unloadablePicture",
        "closePosted", "doneByCaller", "shutdownWithSound"};
    for (long i = 0; i < count; ++i) {
        const Path path = static_cast<Path>(i % kPaths);
        ShowPlan plan;
        plan.picture = ShortAnimation(32, 24, 3 + static_cast<int>(random() % 3), 4,
                                      static_cast<std::uint32_t>(random()));
        plan.soundMs = 300;
        plan.safetyEndMs = kSafetyEndMs;
        switch (path) {
            case kLastFrame:
                break;
            case kEndRequest:
                plan.action = Action::EndRequest;
                plan.delay = random() % 100;
                plan.picture = ShortAnimation(32, 24, 3, 500, static_cast<std::uint32_t>(i));
                break;
            case kMissing:
                plan.pictureInstalled = false;
                break;
            case kUnloadable:
                plan.picture.resize(10);  // the signature and half the screen descriptor
                break;
            case kClose:
                plan.action = Action::Close;
                plan.delay = 10 + random() % 80;
                break;
            case kDone:
                plan.action = Action::Done;
                plan.delay = 10 + random() % 80;
                break;
            case kShutdown:
                plan.shutdown = true;
                break;
            case kPaths:
                break;
        }
        const ShowOutcome outcome = bench.Run(plan);
        summary.Count(kPathNames[path]);
        Record(summary, outcome, std::string("show ") + std::to_string(i) + " (" +
                                     kPathNames[path] + ")");
        if (i == kPaths - 1) threadsAfterFirstRound = SettledProcessThreads();
    }
    const int threadsAfter = threadsAfterFirstRound >= 0
                                 ? ProcessThreadsOnceAtMost(threadsAfterFirstRound)
                                 : SettledProcessThreads();
    summary.Count("processThreadsBefore", threadsBefore);
    summary.Count("processThreadsAfterFirstRound", threadsAfterFirstRound);
    summary.Count("processThreadsAfter", threadsAfter);
    if (threadsAfterFirstRound >= 0 && threadsAfter > threadsAfterFirstRound) {
        summary.Fail("the process's threads grew from " + std::to_string(threadsAfterFirstRound) +
                     " to " + std::to_string(threadsAfter));
    }
    return summary;
}

RunSummary RunBootTiming(long count, std::uint32_t seed) {
    RunSummary summary;
    summary.name = "boot-timing";
    ShowBench bench(96, 80);
    std::mt19937 random(seed);
    // Eight frames of 80 delay 6 cs: the last frame is due at 420 ms; decoding them takes long
    // enough in host time for an action to land inside it.
    constexpr int kFrames = 8;
    constexpr std::uint16_t kDelayCs = 6;
    constexpr std::uint32_t kLastFrameDueMs = (kFrames - 1) * kDelayCs * 10;
    for (long i = 0; i < count; ++i) {
        ShowPlan plan;
        plan.picture = ShortAnimation(96, 80, kFrames, kDelayCs, static_cast<std::uint32_t>(i));
        plan.shutdown = random() % 4 == 0;
        plan.soundMs = random() % 2 == 0 ? 300 : 0;
        const std::uint32_t action = random() % 10;
        plan.action = action < 5 ? Action::EndRequest : action < 9 ? Action::Done : Action::Close;
        const std::uint32_t moment = random() % 10;
        if (moment < 1 && plan.action != Action::Close) {
            plan.moment = Moment::BeforeCall;
        } else if (moment < 4) {
            plan.moment = Moment::RealDelay;
            plan.delay = random() % 3000;  // microseconds of host time
        } else if (moment < 8) {
            plan.moment = Moment::DeviceTime;
            plan.delay = random() % kLastFrameDueMs;
        } else {
            plan.moment = Moment::DeviceTime;
            plan.delay = kLastFrameDueMs + random() % 100;
        }
        // A caller that signals nothing the show reacts to would wait for the last frame anyway.
        const ShowOutcome outcome = bench.Run(plan);

        std::string when;
        if (!outcome.acted) {
            when = "afterTheShowEnded";
        } else if (plan.moment == Moment::BeforeCall) {
            when = "beforeTheCall";
        } else if (!outcome.windowExisted) {
            when = "beforeTheWindow";
        } else if (outcome.copiesBeforeAction == 0) {
            when = "whileLoading";
        } else if (outcome.actionAtMs < kLastFrameDueMs) {
            when = "betweenFrames";
        } else {
            when = "afterTheLastFrame";
        }
        summary.Count(when);
        Record(summary, outcome, "show " + std::to_string(i) + " (" + when + ")");
    }
    return summary;
}

}  // namespace reliability
