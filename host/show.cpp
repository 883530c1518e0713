// One show, from the entry point to its return (see host.h).
//
// How a show ends, and what is left afterwards:
//  1. The animation reaches its last frame: the render thread posts MSG_ANIMATION_ENDED; the
//     window stops, destroys and frees the player and posts close. (The same message from
//     anybody else while the render thread still draws is ignored; with no render thread
//     drawing, a one-frame picture or one whose thread could not start, it ends the show.)
//  2. The caller signals endRequestEvent: at the next tick of timer 1 the window posts close
//     to itself.
//  3. The picture is missing or cannot be loaded: close is posted at once.
//  4. Anybody posts close to the window.
//  5. The caller signals doneEvent itself: the loop ends after the next message.
//  6. The window cannot be created: no loop runs; the call signals doneEvent and returns.
// Close stops the timer, signals doneEvent and posts quit; its default processing destroys
// the window. Whichever way the loop ended, EndShow then destroys the window if it is still
// there (so that a render thread waiting in its synchronous MSG_FRAME_SHOWN is released at
// once), stops the render thread and frees the player. A shut-down show then waits for its
// sound thread; both its handles are closed. Last of all the class is unregistered, so that the
// next show of the process starts afresh, but none can start while this one still uses the
// host's state.
#include <new>

#include "host/host.h"
#include "host/media_probe.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "player/animation_player.h"

namespace br {

const char16_t kAnimationClassName[] = u"StartUpAnimation";
const char16_t kMediaPlayerClassName[] = u"WMP for Mobile Devices";
const char16_t kShutdownDoneEventName[] = u"SHUTDOWN_ANIMATION_DONE";

namespace {

HostState g_host{};

// Set when the close handler has posted quit and the message loop has not taken it yet. The
// loop may end on doneEvent before it reaches the quit message; that message must not stay
// in the caller's queue, where it would end the caller's own loop or the next show's at once.
bool g_quitPending = false;

// Stops and frees the player. A player whose render thread could not be seen to end is kept:
// the thread may still read it.
void EndPlayer() {
    HostState& host = Host();
    if (host.player == nullptr) {
        return;
    }
    host.player->Stop();
    if (host.player->Destroy()) {
        delete host.player;
        host.player = nullptr;
    }
}

// Steps 6 to 13: configuration, player, sound. Anything that keeps the show from playing
// posts close.
void StartShow(plat::HWND window, AnimationMode mode, plat::HANDLE& soundThread) {
    HostState& host = Host();
    ReadAnimationConfig(mode);
    if (!PathExists(host.imagePath)) {
        plat::PostMessage(window, plat::WM_CLOSE, 0, 0);
        return;
    }
    auto* player = new (std::nothrow) AnimationPlayer();
    if (player == nullptr) {
        plat::PostMessage(window, plat::WM_CLOSE, 0, 0);
        return;
    }
    host.player = player;
    player->AttachWindow(window);
    player->SetBackgroundColour(kShowBackground);
    if (!player->Load(host.imagePath)) {
        plat::PostMessage(window, plat::WM_CLOSE, 0, 0);
        return;
    }
    player->Play(mode == AnimationMode::Startup);
    const std::uint32_t level = ReadSoundLevel();
    if (level != 0 && PathExists(host.soundPath)) {
        if (mode == AnimationMode::Shutdown) {
            soundThread = StartShutdownSound();
        } else {
            StartStartupSound();
        }
    }
}

void RunMessageLoop() {
    HostState& host = Host();
    plat::MSG message{};
    while (plat::WaitForSingleObject(host.doneEvent, 0) == plat::WAIT_TIMEOUT) {
        const int result = plat::GetMessage(&message, nullptr, 0, 0);
        if (result == 0) {
            g_quitPending = false;
            break;
        }
        if (result == -1) {
            break;
        }
        plat::TranslateMessage(&message);
        plat::DispatchMessage(&message);
    }
}

void EndShow(plat::HWND window) {
    if (plat::IsWindow(window)) {
        plat::KillTimer(window, kEndRequestTimerId);
        plat::DestroyWindow(window);
    }
    EndPlayer();
    // Messages still queued for the destroyed window go nowhere; the quit message posted by
    // close is taken out of the queue.
    plat::MSG message{};
    while (g_quitPending) {
        const int result = plat::GetMessage(&message, nullptr, 0, 0);
        if (result == 0 || result == -1) {
            g_quitPending = false;
            break;
        }
        plat::TranslateMessage(&message);
        plat::DispatchMessage(&message);
    }
}

}  // namespace

HostState& Host() {
    return g_host;
}

std::uint16_t RegisterAnimationClass() {
    plat::WNDCLASS windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = AnimationWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 4;
    windowClass.hInstance = Host().moduleInstance;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = nullptr;
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kAnimationClassName;
    return plat::RegisterClass(&windowClass);
}

plat::LRESULT PLAT_CALLBACK AnimationWindowProc(plat::HWND window, std::uint32_t message,
                                                plat::WPARAM wParam, plat::LPARAM lParam) {
    HostState& host = Host();
    switch (message) {
        case plat::WM_CREATE:
            plat::SetTimer(window, kEndRequestTimerId, kEndRequestTimerMs, nullptr);
            break;
        case plat::WM_CLOSE:
            plat::KillTimer(window, kEndRequestTimerId);
            plat::SetEvent(host.doneEvent);
            plat::PostQuitMessage(0);
            g_quitPending = true;
            break;
        case plat::WM_ERASEBKGND:
            return 1;
        case plat::WM_TIMER:
            if ((wParam & 0xFFFF) == kEndRequestTimerId &&
                plat::WaitForSingleObject(host.endRequestEvent, 0) != plat::WAIT_TIMEOUT) {
                plat::PostMessage(window, plat::WM_CLOSE, 0, 0);
            }
            break;
        case MSG_ANIMATION_ENDED:
            // While a render thread draws, only its own end message ends the show. One that
            // anybody else posts meanwhile is ignored: stopping the player then would wait for
            // a thread that itself waits for this one (its sent MSG_FRAME_SHOWN), and end it by
            // force. With no thread drawing (a one-frame picture, a thread that could not be
            // created, or one that has left its loop) there is nothing to wait for, and the
            // message ends the show.
            if (host.player == nullptr || !RenderLoopDrawing(host.player->renderLoop)) {
                EndPlayer();
                plat::PostMessage(window, plat::WM_CLOSE, 0, 0);
            }
            break;
        default:
            break;
    }
    return plat::DefWindowProc(window, message, wParam, lParam);
}

void RunAnimationShow(plat::HWND ownerWindow, plat::HANDLE endRequestEvent, plat::HANDLE doneEvent,
                      AnimationMode mode) {
    if (endRequestEvent == nullptr || doneEvent == nullptr) {
        return;
    }
    // Registration is the show's lock: a show started while another one of this process runs
    // returns here, before it can touch the running show's state.
    if (RegisterAnimationClass() == 0) {
        return;
    }
    HostState& host = Host();
    host.endRequestEvent = endRequestEvent;
    host.doneEvent = doneEvent;
    host.shutdownDoneEvent = nullptr;
    host.player = nullptr;
    g_quitPending = false;

    if (mode == AnimationMode::Shutdown) {
        plat::HWND mediaPlayer = plat::FindWindow(kMediaPlayerClassName, nullptr);
        if (mediaPlayer != nullptr) {
            plat::PostMessage(mediaPlayer, plat::WM_CLOSE, 0, 0);
        }
        host.shutdownDoneEvent =
            plat::OpenEvent(plat::EVENT_ALL_ACCESS, false, kShutdownDoneEventName);
    }

    const int width = plat::GetSystemMetrics(plat::SM_CXSCREEN);
    const int height = plat::GetSystemMetrics(plat::SM_CYSCREEN);
    plat::HWND window = plat::CreateWindowEx(kAnimationWindowExStyle, kAnimationClassName,
                                             kAnimationClassName, kAnimationWindowStyle, 0, 0,
                                             width, height, ownerWindow, nullptr, nullptr, nullptr);

    plat::HANDLE soundThread = nullptr;
    const bool windowMade = window != nullptr;
    if (windowMade) {
        // The render thread's 20 ms passes need a timer of about 1 ms; where the platform's
        // default is coarser they would stretch by half. Only while the animation plays.
        const bool fineTimer = plat::timeBeginPeriod(kShowTimerPeriodMs) == plat::TIMERR_NOERROR;
        try {
            StartShow(window, mode, soundThread);
            RunMessageLoop();
        } catch (...) {
            // Nothing here throws by design; should anything, the show still ends cleanly.
        }
        EndShow(window);
        if (fineTimer) {
            plat::timeEndPeriod(kShowTimerPeriodMs);
        }
    }
    // Without a window the loop is not entered: no timer and no close would ever end it. The
    // show is over before it began, and the caller hears so below like after any other end.

    if (soundThread != nullptr) {
        while (plat::WaitForSingleObject(soundThread, kSoundWaitSliceMs) == plat::WAIT_TIMEOUT) {
        }
        plat::CloseHandle(soundThread);
    }
    if (host.shutdownDoneEvent != nullptr) {
        plat::CloseHandle(host.shutdownDoneEvent);
        host.shutdownDoneEvent = nullptr;
    }
    // The lock goes last: until here the sound thread reads soundPath and shutdownDoneEvent,
    // which a show started meanwhile would overwrite.
    plat::UnregisterClass(kAnimationClassName, host.moduleInstance);
    if (!windowMade) {
        // No close handler ran to signal it, and a boot sequence that waits on doneEvent would
        // wait for ever. Signalled after the class is free, so that a caller who starts the
        // next show on the signal finds nothing of this one in its way.
        plat::SetEvent(doneEvent);
    }
}

}  // namespace br
