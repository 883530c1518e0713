// The animation host: one call of an exported entry point runs one show on the caller's
// thread. It opens a full-screen top-most window, hands the configured picture to the player,
// starts the sound and pumps window messages until the show ends; before it returns nothing of
// the show is left (no window, no class, no render thread, no player, no open handle).
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace br {

struct AnimationPlayer;

enum class AnimationMode : std::int32_t {
    Startup = 0,
    Shutdown = 1,
};

// Room of the configured paths, terminating zero included (so at most 259 characters).
constexpr std::size_t kPathCapacity = 260;

// The module-wide state of the host: zero when the library is loaded. Written by the host
// thread before the render and sound threads start; afterwards only read by the window
// procedure (same thread) and by the shut-down sound thread (soundPath, shutdownDoneEvent).
struct HostState {
    char16_t soundPath[kPathCapacity];
    char16_t imagePath[kPathCapacity];
    plat::HANDLE doneEvent;          // signalled by the window when it closes; ends the show
    plat::HANDLE endRequestEvent;    // the caller signals it to ask for the end of the show
    plat::HMODULE moduleInstance;    // instance given to the window class: always none
    plat::HANDLE shutdownDoneEvent;  // the named event "SHUTDOWN_ANIMATION_DONE", if it exists
    AnimationPlayer* player;         // the running show's player, owned
};

HostState& Host();

// Window class and title of the show's window.
extern const char16_t kAnimationClassName[];
// Class of the media player's window that a shut-down show asks to close.
extern const char16_t kMediaPlayerClassName[];
// The event that the shut-down sound signals when it has played to its end.
extern const char16_t kShutdownDoneEventName[];

constexpr std::uintptr_t kEndRequestTimerId = 1;
constexpr std::uint32_t kEndRequestTimerMs = 3000;
constexpr std::uint32_t kAnimationWindowExStyle = 0x60000008;  // top-most + two platform bits
constexpr std::uint32_t kAnimationWindowStyle = 0x10000000;    // visible only
constexpr std::uint32_t kSoundWaitSliceMs = 100;
// Timer resolution asked for while the animation plays.
constexpr std::uint32_t kShowTimerPeriodMs = 1;

// Runs one show; returns when it is over (see host.cpp for every way a show ends).
void RunAnimationShow(plat::HWND ownerWindow, plat::HANDLE endRequestEvent, plat::HANDLE doneEvent,
                      AnimationMode mode);

// Registers the class "StartUpAnimation"; its identifier, or 0 (for example while another
// show of this process holds it).
std::uint16_t RegisterAnimationClass();

plat::LRESULT PLAT_CALLBACK AnimationWindowProc(plat::HWND window, std::uint32_t message,
                                                plat::WPARAM wParam, plat::LPARAM lParam);

// Configuration and sound (config.cpp).

// Fills imagePath and soundPath from the mode's registry key ("Image" and "WAV"). A missing
// key or value, or a value that does not fit the 260-character field, leaves the path empty.
void ReadAnimationConfig(AnimationMode mode);
// The user's system-sound level "InitVol"; 0 when it cannot be read.
std::uint32_t ReadSoundLevel();
// Plays soundPath in the background; nothing to wait for or stop.
void StartStartupSound();
// Starts ShutdownSoundThread; its handle, or none when the thread cannot be created.
plat::HANDLE StartShutdownSound();
// Plays soundPath to its end, then signals shutdownDoneEvent. Returns 1.
std::uint32_t PLAT_CALLBACK ShutdownSoundThread(void* unused);

}  // namespace br
