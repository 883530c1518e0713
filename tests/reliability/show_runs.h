// Whole shows run over and over on the simulated device, each checked for what it left behind:
// the runs that try every prefix and many corruptions of the GIF corpus, long series of shows
// in one process through every way a show ends, and callers that signal their events at random
// moments. Both the long runs (bootreel-reliability) and their short CI versions use them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/types.h"

namespace reliability {

// What the caller does during the show besides calling the entry point.
enum class Action {
    None,
    EndRequest,  // signals endRequestEvent
    Done,        // signals doneEvent
    Close,       // posts close to the show's window (as another program would)
};

// When the action happens.
enum class Moment {
    BeforeCall,   // the event is already signalled when the entry point is called
    RealDelay,    // after `delay` microseconds of host time, without letting device time pass:
                  // lands while the window is created or the picture is decoded
    DeviceTime,   // at `delay` milliseconds of device time after the call
};

struct ShowPlan {
    bool shutdown = false;
    bool pictureInstalled = true;  // false: the registry names a file that does not exist
    std::vector<std::uint8_t> picture;
    std::uint32_t soundMs = 0;  // 0: no sound configured
    Action action = Action::None;
    Moment moment = Moment::DeviceTime;
    std::uint32_t delay = 0;
    // endRequestEvent is signalled at this device time if the show is still running, so that a
    // picture that would play for ever (one frame, or absurd delays) still ends. 0: never.
    std::uint32_t safetyEndMs = 0;
};

struct ShowOutcome {
    std::uint64_t deviceMs = 0;      // device time the show took
    int copies = 0;                  // copies to the screen during the show
    bool acted = false;              // the action happened while the show ran
    int copiesBeforeAction = 0;      // screen copies before the action
    bool windowExisted = false;      // the show's window existed at the action
    std::uint64_t actionAtMs = 0;    // device time of the action
    std::vector<std::string> leftovers;  // what the show left behind, in words (empty: nothing)
};

// A simulated device on which shows run one after another. One exists per process at a time.
class ShowBench {
public:
    ShowBench(int screenWidth, int screenHeight);
    ~ShowBench();
    ShowBench(const ShowBench&) = delete;
    ShowBench& operator=(const ShowBench&) = delete;

    // Runs one show and checks, after the entry point returned, that it left nothing behind.
    ShowOutcome Run(const ShowPlan& plan);

    // Threads of the whole process as the operating system counts them.
    static int ProcessThreads();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// ---- Pictures ----------------------------------------------------------------------------

struct CorpusFile {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

// Small GIFs covering what the decoder and the player must handle: every code size, local and
// global tables, interlace, transparency, every disposal, frames outside the logical screen, zero
// and long delays, a one-frame picture, GIF87a.
std::vector<CorpusFile> GeneratedCorpus();
// Every regular file of a folder whose name ends in .gif.
std::vector<CorpusFile> ReadCorpusFolder(const std::string& folder);

// A short animation: `frames` frames of w x h with small delays and mixed disposal.
std::vector<std::uint8_t> ShortAnimation(int width, int height, int frames,
                                         std::uint16_t delayCs, std::uint32_t seed);

// ---- Runs --------------------------------------------------------------------------------

struct RunSummary {
    std::string name;
    long shows = 0;
    long failures = 0;                 // shows that left something behind
    std::vector<std::string> examples; // the first few failures, described
    std::vector<std::pair<std::string, long>> counts;  // further tallies, by name

    void Fail(const std::string& what);
    void Count(const std::string& what, long by = 1);
    std::string Line() const;  // one line "reliability: <name> shows=... failures=..."
};

// Every prefix of every file (a stride above 1 takes every stride-th prefix, plus the whole file).
RunSummary RunTruncation(const std::vector<CorpusFile>& corpus, std::size_t stride);
// `count` shows of corpus files with 1 to 8 random byte or bit changes each.
RunSummary RunCorruption(const std::vector<CorpusFile>& corpus, long count, std::uint32_t seed);
// `count` shows in a row through every way a show ends in turn, with short pictures; also
// compares the process's thread count before and after.
RunSummary RunLoad(long count, std::uint32_t seed);
// `count` shows whose caller signals endRequestEvent or doneEvent, or posts close, at random
// moments: before the call, while the window opens and the picture decodes, between frames,
// after the last frame.
RunSummary RunBootTiming(long count, std::uint32_t seed);
// Pictures of at most 64 KB that declare huge or countless frames, loaded by the player with the
// device's bitmap memory: time, bitmap memory and peak resident memory of each load; a load over
// 2 s or over the device's memory fails (hostile.cpp).
RunSummary RunHostile();

}  // namespace reliability
