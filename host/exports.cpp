// The exported entry points (see bootreel.h). No exception leaves the library: whatever a show
// raises ends at this boundary.
#include "host/bootreel.h"
#include "host/host.h"

extern "C" {

BOOTREEL_EXPORT void DoStartupAnimation(plat::HWND ownerWindow, plat::HANDLE endRequestEvent,
                                        plat::HANDLE doneEvent) {
    try {
        br::RunAnimationShow(ownerWindow, endRequestEvent, doneEvent, br::AnimationMode::Startup);
    } catch (...) {
    }
}

BOOTREEL_EXPORT void DoShutdownAnimation(plat::HWND ownerWindow, plat::HANDLE endRequestEvent,
                                         plat::HANDLE doneEvent) {
    try {
        br::RunAnimationShow(ownerWindow, endRequestEvent, doneEvent, br::AnimationMode::Shutdown);
    } catch (...) {
    }
}

}  // extern "C"
