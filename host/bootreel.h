// The library's public face: the two entry points that a device's start-up and shut-down
// sequence calls. Each runs one show and returns when it is over; neither has a result.
#pragma once

#include "platform/types.h"

#if defined(_WIN32)
// Callers resolve the entry points at run time or through the import library; programs that
// link the show statically (tests, the previewer) see plain declarations.
#if defined(BOOTREEL_BUILDING_LIBRARY)
#define BOOTREEL_EXPORT __declspec(dllexport)
#else
#define BOOTREEL_EXPORT
#endif
#else
#define BOOTREEL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// ownerWindow (may be none) becomes the owner of the show's window; endRequestEvent and
// doneEvent are events that the caller created: signal endRequestEvent to ask for the end of
// the show (seen within 3 s); doneEvent is signalled when the show's window closes, and the
// caller may signal it to end the show.
//
// Every show that starts signals doneEvent by the time the call returns, also one whose window
// cannot be created (it then returns at once). A call that does not start a show signals
// nothing and returns at once: when either event is none, or while another show of this
// process runs (the turned-away call's doneEvent may be the running show's own, and a signal
// would end that show early and tell its caller it was over).
//
// Both events must be manual-reset events. The show tests them with zero-time waits while it
// runs; such a wait on an auto-reset event takes the signal away, so a caller waiting on an
// auto-reset doneEvent would never see the end of the show, and an auto-reset
// endRequestEvent would be cleared by the show's own test of it.
BOOTREEL_EXPORT void DoStartupAnimation(plat::HWND ownerWindow, plat::HANDLE endRequestEvent,
                                        plat::HANDLE doneEvent);
// As DoStartupAnimation with the shut-down configuration; also closes the media player's
// window first, plays the sound to its end on a thread of its own, signals
// "SHUTDOWN_ANIMATION_DONE" when it has ended and returns only after that.
BOOTREEL_EXPORT void DoShutdownAnimation(plat::HWND ownerWindow, plat::HANDLE endRequestEvent,
                                         plat::HANDLE doneEvent);
}
