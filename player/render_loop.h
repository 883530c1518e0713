// The render thread's state and operations: one thread per playing AnimationPlayer composes
// the loaded frames one after another into an off-screen surface, honours each frame's
// disposal method, copies the surface to the window about every 20 ms and advances frames by
// the delays stored in the picture. When the last frame has been composed and shown for one
// pass it posts MSG_ANIMATION_ENDED to the window and returns.
//
// The host thread and the render thread share no lock. The render thread reads the player's
// frames and layout (written before the thread starts, unchanged while it runs) and writes only
// this record and its surfaces; the host asks it to end through `ended` and `endMessage`, and
// the render thread cannot run ahead of the window's message loop because it sends
// MSG_FRAME_SHOWN synchronously after every copy.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/types.h"
#include "raster/geometry.h"

namespace br {

struct AnimationPlayer;

// Posted once by the render thread after the last frame; the window ends the show on it.
constexpr std::uint32_t MSG_ANIMATION_ENDED = 0x464;
// Sent (synchronously) after every copy of the picture to the window; nothing handles it.
constexpr std::uint32_t MSG_FRAME_SHOWN = 0x466;

// Interval between two passes of the render thread.
constexpr std::uint32_t kRenderPassMs = 20;
// How long StopRenderLoop waits for the thread to leave its loop: slices of 100 ms, 15 times.
constexpr std::uint32_t kStopWaitSliceMs = 100;
constexpr int kStopWaitSlices = 15;
// Exit code given to a render thread that has to be terminated.
constexpr std::uint32_t kTerminatedExitCode = 0xFFFFFF91;  // -111

// Plain record embedded in the player: ResetRenderLoop gives it its empty state,
// StartRenderLoop fills it and starts the thread, ReleaseRenderLoop gives everything back.
struct RenderLoop {
    AnimationPlayer* owner;
    plat::HWND window;
    plat::HDC windowDC;  // the window's context, obtained at start, given back at release
    plat::HDC memoryDC;  // compatible memory context that the surfaces are selected into
    std::uint8_t* surfaceBits;
    std::int32_t surfacePad;  // pixels by which the main surface's row exceeds the client width
    double scale;             // copy of the player's displayScale
    std::uint8_t orientation;
    Size scaledSize;   // copy of the player's scaledSize
    Size pictureSize;  // the picture's width and height
    Rect visibleRect;  // the shown part of the picture, in picture display coordinates
    std::int32_t blitX;
    std::int32_t blitY;
    std::int32_t blitWidth;
    std::int32_t blitHeight;
    plat::HBITMAP backupSurface;  // the picture's visible area as the next frame must find it
    plat::HBITMAP surface;        // what the window shows, client size
    std::uint8_t* backupBits;
    std::uint8_t* destinationOrigin;  // main-surface pixel of DestinationRect()'s top-left
    std::int32_t backupPad;   // pixels by which the backup's row exceeds visibleRect's width
    std::int32_t rowSkip;     // main-surface pixels from the end of one picture row to the next
    std::int32_t frameIndex;  // next frame to compose; the render thread's while it runs
    plat::HANDLE thread;
    // Written by the host thread (StopRenderLoop) and by the render thread (after the last
    // frame), read by the render thread once per pass.
    std::atomic<std::uint8_t> ended;
    // MSG_ANIMATION_ENDED from the start; 0 once StopRenderLoop asked for a silent end.
    std::atomic<std::uint32_t> endMessage;
    // Set by the render thread when it has left its loop for good: it then only posts its end
    // message and returns, so stopping it cannot have to wait for the window's thread.
    std::atomic<std::uint8_t> loopLeft;
};

// Every field to 0 / none / empty except `owner`; `scale` 1.0.
void ResetRenderLoop(RenderLoop& loop);

// Deletes both surfaces, closes the thread handle, deletes the memory context, gives the
// window's context back, then resets. Only while no render thread runs.
void ReleaseRenderLoop(RenderLoop& loop);

// Obtains the contexts and surfaces for the player's window, clears them to the player's
// background colour and starts the render thread (suspended, raised to priority 2 and resumed
// when the player's raisePriority is set). False when the player is not loaded, when anything
// cannot be obtained or when the thread cannot be created; what was obtained stays in the
// record until the next start or release.
bool StartRenderLoop(AnimationPlayer& player);

// Asks the render thread to end without posting its end message and waits for it (15 slices of
// 100 ms). Clears the player's `playing`. True when a render thread was ended and everything
// released. Must not be called while the window still exists and the render thread may be
// waiting for this thread to answer a sent MSG_FRAME_SHOWN (the host destroys the window
// first, or calls it after the thread has left its loop).
//
// Should the thread still run after the waits, it is terminated (exit code -111) where the
// platform can; if it still cannot be seen to have ended, the record keeps the thread handle
// and everything the thread may touch, and the call returns false: the owner must not free the
// player then (RenderThreadRunning tells).
bool StopRenderLoop(AnimationPlayer& player);

// True while the loop holds a thread that has not been seen to end.
bool RenderThreadRunning(const RenderLoop& loop);

// True while the loop holds a thread that has not left its frame loop: it may be waiting for
// the window's thread to take its MSG_FRAME_SHOWN, so that thread must not wait for it. Once
// the thread has left (after the last frame or an end request), the end message in the
// window's queue, if any, is its own.
bool RenderLoopDrawing(const RenderLoop& loop);

// The thread procedure; `record` is the RenderLoop. Returns 0.
std::uint32_t PLAT_CALLBACK RenderLoopMain(void* record);

// Fills (x, y, x + width, y + height) of the context with a solid brush of `colour`; the brush
// lives only for the call.
void FillRectColour(plat::HDC dc, std::int32_t x, std::int32_t y, std::int32_t width,
                    std::int32_t height, plat::COLORREF colour);

}  // namespace br
