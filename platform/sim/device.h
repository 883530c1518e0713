// Control and observation of the simulated device. Only tests, benchmarks and the previewer
// include this header; the library and Tunelet see nothing but the service headers.
//
// The simulated device is one process-wide object. Reset() gives a fresh device (no windows,
// classes, events, timers, registry values or records) and must be called while no thread of
// the previous device is still running. (A thread left waiting in the previous device stays
// asleep for good rather than run on into the next one; handles of the previous device are
// unknown to the next.) Thread-local slots and string tables belong to the process and stay.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace plat::sim {

enum class ClockMode {
    Real,     // the tick counter follows the host's monotonic clock
    Virtual,  // time stands still while any device thread is runnable; when every device
              // thread is blocked in a platform wait it jumps to the earliest deadline
};

struct DeviceConfig {
    int screenWidth = 240;
    int screenHeight = 320;
    ClockMode clock = ClockMode::Virtual;
    std::uint32_t tickStart = 0;   // tick counter value at Reset (to test wrapping)
    std::string deviceRoot;        // host folder for "\"; empty: $BOOTREEL_DEVICE_ROOT or none
    // When every waiting thread waits with no deadline for this long (host time) and nothing
    // changes, the program under test has deadlocked: the device reports what each thread
    // waits for on standard error and aborts, so that a test fails instead of hanging.
    // 0: wait forever.
    std::uint32_t deadlockGraceMs = 10000;
};

void Reset(const DeviceConfig& config = DeviceConfig());
const DeviceConfig& Config();

// Milliseconds of device time since Reset (not wrapped).
std::uint64_t Now();

// A thread that is not created by plat::CreateThread but takes part in the device (a test's
// own thread that calls the library) counts as a device thread while such a scope lives. The
// thread that calls Reset() is one automatically until the next Reset().
class DeviceThreadScope {
public:
    DeviceThreadScope();
    ~DeviceThreadScope();
    DeviceThreadScope(const DeviceThreadScope&) = delete;
    DeviceThreadScope& operator=(const DeviceThreadScope&) = delete;
};

// The opposite: while it lives, the calling device thread does not count as one, so that it can
// block outside the platform (join a std::thread, wait on a future) without holding virtual
// time still.
class OffDeviceScope {
public:
    OffDeviceScope();
    ~OffDeviceScope();
    OffDeviceScope(const OffDeviceScope&) = delete;
    OffDeviceScope& operator=(const OffDeviceScope&) = delete;

private:
    int savedRefs_ = 0;
};

// ---- Configuration of the device's contents -------------------------------------------
void SetDeviceRoot(const std::string& hostFolder);
// Maps a device path to the host path it stands for ("" when no device root is set).
std::string HostPath(const char16_t* devicePath);

// Loads a .reg text file ("Windows Registry Editor Version 5.00" or "REGEDIT4") into the
// registry. On failure nothing is loaded and *error names the file and the line.
bool LoadRegistryFile(const std::string& path, std::string* error);
bool LoadRegistryText(const std::string& text, const std::string& name, std::string* error);
void SetRegistryString(HKEY root, const std::u16string& key, const std::u16string& name,
                       const std::u16string& value);
void SetRegistryDword(HKEY root, const std::u16string& key, const std::u16string& name,
                      std::uint32_t value);

// A top-level window of another program (for example the media player that the shut-down
// show asks to close). It answers close by disappearing.
HWND AddForeignWindow(const std::u16string& className, const std::u16string& title);
// Creates a named event that belongs to the device (another program's), initially clear.
HANDLE AddNamedEvent(const std::u16string& name);

// ---- Fault injection -------------------------------------------------------------------
// Bitmap sections whose pixel memory would exceed `bytes` fail (0: no limit).
void FailBitmapsAbove(std::size_t bytes);
// All bitmap sections together may not exceed `bytes` (0: no limit): the device's memory.
void SetBitmapMemoryLimit(std::size_t bytes);
// The pixel memory of the largest bitmap section the device makes now: its own ceiling of
// 1 GiB, or less after FailBitmapsAbove.
std::uint64_t LargestBitmapBytes();
// The next `count` thread creations fail (-1: all of them until reset).
void FailThreadCreation(int count);
// The next `count` window creations fail (-1: all of them until reset).
void FailWindowCreation(int count);
// Message boxes answer at once with OK and are recorded; this routes their text elsewhere
// (default: standard error as "<caption>: <text>").
void SetMessageBoxHandler(std::function<void(const std::u16string& text,
                                             const std::u16string& caption)> handler);

// ---- Observation -----------------------------------------------------------------------
struct MessageRecord {
    std::uint64_t timeMs;
    HWND window;
    std::u16string windowClass;
    std::uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
    bool sent;  // delivered by SendMessage (true) or from the queue (false)
};
// The messages that reached a window procedure of the device, in order: all of them up to
// 20,480; beyond that the first 4,096 and the latest 16,384, so that the record of a long show
// stays bounded.
std::vector<MessageRecord> DeliveredMessages();
// How many messages DeliveredMessages() left out between its first and its latest ones.
std::uint64_t DroppedMessages();

struct ScreenShot {
    std::uint64_t timeMs;
    int width;
    int height;
    std::vector<std::uint8_t> bgr;  // width * height * 3 bytes, rows top-down, blue-green-red
    // Whether the copy changed a pixel of the screen. With ScreenCopies::Changes a copy that
    // changed nothing comes with `bgr` empty, except the first one an observer is given.
    bool changed = true;
};
// The screen as it is now.
ScreenShot Screen();
// What an observer of screen copies is given: the screen after every copy, or only after the
// copies that changed it (every copy is still reported, with its time; a long show whose
// screen rarely changes then costs no copy of the screen per pass).
enum class ScreenCopies { All, Changes };
// Called (on the copying thread) after every copy to a window's device context.
void SetScreenCopyObserver(std::function<void(const ScreenShot&)> observer,
                           ScreenCopies what = ScreenCopies::All);

struct SoundRecord {
    std::u16string path;        // as passed
    std::string hostPath;       // the file it resolved to ("" if none)
    std::uint32_t flags;
    bool played;                // false: the call reported failure
    std::uint64_t startedAtMs;
    std::uint64_t endedAtMs;    // start + the file's duration (start when not played); cut
                                // short when a later sound starts before it ends
    bool defaultSound = false;  // the file could not be played and the device's default sound
                                // played in its place (SND_NODEFAULT clear)
    std::string problem;        // why the file did not play ("" when it played)
};
std::vector<SoundRecord> Sounds();
// Called when a sound starts playing (for audible output in the previewer).
void SetSoundObserver(std::function<void(const SoundRecord&, const std::vector<std::uint8_t>& wav)>
                          observer);

struct Counts {
    int windows;        // live windows of the device's own threads (foreign windows excluded)
    int classes;        // registered window classes
    int threads;        // device threads created by CreateThread still running
    int handles;        // open kernel handles (threads, events) not yet closed
    int gdiObjects;     // live bitmaps and brushes
    int deviceContexts; // DCs obtained and not given back / deleted
    std::size_t bitmapBytes;  // pixel memory of live bitmap sections
    int timers;
};
Counts Live();

// Live windows (the device's and foreign ones) in creation order, as they were created.
struct WindowInfo {
    HWND window;
    std::u16string className;
    std::u16string title;
    std::uint32_t exStyle;
    std::uint32_t style;
    int x, y, width, height;
    HWND owner;
    bool foreign;
    int timers;
};
std::vector<WindowInfo> Windows();

// Every thread made by plat::CreateThread since Reset, in creation order.
struct ThreadInfo {
    std::uint32_t threadId;
    int priority;
    bool suspended;
    bool finished;
    std::uint32_t exitCode;  // 259 while running
};
std::vector<ThreadInfo> Threads();
// How often TerminateThread was asked for (the simulated device cannot do it and refuses).
int TerminateThreadCalls();
// timeBeginPeriod requests not yet ended by timeEndPeriod.
int OpenTimerPeriods();

}  // namespace plat::sim
