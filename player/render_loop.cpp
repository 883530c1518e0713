// See render_loop.h.
#include "player/render_loop.h"

#include <cstring>

#include "platform/draw.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "player/animation_player.h"
#include "raster/surface.h"

namespace br {

namespace {

// Restores the accumulated picture (the backup) into the main surface, composes the frame at
// `loop.frameIndex`, updates the backup by the frame's disposal method and advances `due` by
// the frame's delay. Sets `ended` after the last frame.
void ComposeNextFrame(RenderLoop& loop, const AnimationPlayer& player, std::int32_t frameCount,
                      std::uint32_t& due) {
    const plat::COLORREF background = player.backgroundColour;
    const std::int32_t index = loop.frameIndex;
    const CImgLayer* layer =
        (index < frameCount && player.frames != nullptr) ? player.frames[index] : nullptr;
    const std::uint8_t disposal = layer != nullptr ? layer->disposal : 0;

    const Rect& visible = loop.visibleRect;
    const std::int32_t width = visible.Width();
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    const std::ptrdiff_t mainStride = static_cast<std::ptrdiff_t>(width + loop.rowSkip) * 3;
    const std::ptrdiff_t backupStride = static_cast<std::ptrdiff_t>(width + loop.backupPad) * 3;

    for (std::int32_t row = 0; row < visible.Height(); ++row) {
        std::memcpy(loop.destinationOrigin + row * mainStride, loop.backupBits + row * backupStride,
                    rowBytes);
    }

    const Rect frameArea = player.FrameDisplayRect(index);
    // The picture area fixed with the surface, never the window's present one: a window that
    // grew since would have the frame written past the surface.
    player.ComposeFrame(loop.destinationOrigin, loop.rowSkip, index, visible);

    Rect area;
    if (area.Intersect(frameArea, visible)) {
        const std::size_t areaBytes = static_cast<std::size_t>(area.Width()) * 3;
        const std::ptrdiff_t column = static_cast<std::ptrdiff_t>(area.left - visible.left) * 3;
        for (std::int32_t y = area.top; y < area.bottom; ++y) {
            const std::ptrdiff_t row = y - visible.top;
            std::uint8_t* backup = loop.backupBits + row * backupStride + column;
            if (disposal <= 1) {
                // Leave in place: the frame stays for the next one.
                std::memcpy(backup, loop.destinationOrigin + row * mainStride + column, areaBytes);
            } else if (disposal == 2) {
                // Restore to background.
                for (std::int32_t x = 0; x < area.Width(); ++x) {
                    backup[x * 3 + 0] = static_cast<std::uint8_t>(background >> 16);
                    backup[x * 3 + 1] = static_cast<std::uint8_t>(background >> 8);
                    backup[x * 3 + 2] = static_cast<std::uint8_t>(background);
                }
            }
            // Any other method restores the previous state: the backup keeps it.
        }
    }

    const std::uint32_t delay = layer != nullptr ? static_cast<std::uint16_t>(layer->delay) : 0;
    loop.frameIndex = index + 1;
    due += delay * 10;
    if (loop.frameIndex >= frameCount) {
        loop.frameIndex = 0;
        loop.ended.store(1);
    }
}

}  // namespace

void ResetRenderLoop(RenderLoop& loop) {
    loop.window = nullptr;
    loop.windowDC = nullptr;
    loop.memoryDC = nullptr;
    loop.surfaceBits = nullptr;
    loop.surfacePad = 0;
    loop.scale = 1.0;
    loop.orientation = 0;
    loop.scaledSize = Size(0, 0);
    loop.pictureSize = Size(0, 0);
    loop.visibleRect.SetEmpty();
    loop.blitX = 0;
    loop.blitY = 0;
    loop.blitWidth = 0;
    loop.blitHeight = 0;
    loop.backupSurface = nullptr;
    loop.surface = nullptr;
    loop.backupBits = nullptr;
    loop.destinationOrigin = nullptr;
    loop.backupPad = 0;
    loop.rowSkip = 0;
    loop.frameIndex = 0;
    loop.thread = nullptr;
    loop.ended.store(0);
    loop.endMessage.store(0);
    loop.loopLeft.store(0);
}

void ReleaseRenderLoop(RenderLoop& loop) {
    if (loop.backupSurface != nullptr) {
        plat::DeleteObject(loop.backupSurface);
    }
    if (loop.surface != nullptr) {
        plat::DeleteObject(loop.surface);
    }
    if (loop.thread != nullptr) {
        plat::CloseHandle(loop.thread);
    }
    if (loop.memoryDC != nullptr) {
        plat::DeleteDC(loop.memoryDC);
    }
    if (loop.windowDC != nullptr) {
        plat::ReleaseDC(loop.window, loop.windowDC);
    }
    ResetRenderLoop(loop);
}

bool RenderThreadRunning(const RenderLoop& loop) {
    return loop.thread != nullptr &&
           plat::WaitForSingleObject(loop.thread, 0) == plat::WAIT_TIMEOUT;
}

bool RenderLoopDrawing(const RenderLoop& loop) {
    return loop.thread != nullptr && loop.loopLeft.load() == 0;
}

bool StartRenderLoop(AnimationPlayer& player) {
    RenderLoop& loop = player.renderLoop;
    if (!player.loaded || RenderThreadRunning(loop)) {
        return false;
    }
    ReleaseRenderLoop(loop);
    loop.owner = &player;
    loop.window = player.window;

    Rect client(0, 0, 0, 0);
    if (!plat::GetClientRect(loop.window, &client)) {
        client.SetEmpty();
    }
    const std::int32_t width = client.Width();
    const std::int32_t height = client.Height();
    loop.windowDC = plat::GetDC(loop.window);
    loop.memoryDC = plat::CreateCompatibleDC(loop.windowDC);
    Size surfaceSize(0, 0);
    std::uint8_t* bits = nullptr;
    loop.surface = CreateSurface(loop.windowDC, width, height, &surfaceSize, &bits, false, false);
    if (loop.surface != nullptr) {
        loop.surfaceBits = bits;
        loop.surfacePad = surfaceSize.cx - width;
    }
    if (loop.owner == nullptr || loop.surface == nullptr || loop.windowDC == nullptr ||
        loop.memoryDC == nullptr) {
        return false;
    }

    loop.scale = player.displayScale;
    loop.orientation = static_cast<std::uint8_t>(player.orientation);
    loop.scaledSize = player.scaledSize;
    loop.pictureSize = Size(player.info.width, player.info.height);
    loop.blitX = 0;
    loop.blitY = 0;
    loop.blitWidth = width;
    loop.blitHeight = height;

    plat::HGDIOBJ previous = plat::SelectObject(loop.memoryDC, loop.surface);
    FillRectColour(loop.memoryDC, 0, 0, width, height, player.backgroundColour);
    plat::SelectObject(loop.memoryDC, previous);

    const Rect destination = player.DestinationRect();
    // The render thread writes the picture rows into the main surface at this rectangle; one
    // that does not lie inside the surface (the window changed size since Load measured it)
    // would have it write outside the surface's memory.
    if (destination.IsEmpty() || destination.left < 0 || destination.top < 0 ||
        destination.right > width || destination.bottom > height) {
        return false;
    }
    const std::int32_t surfaceRow = width + loop.surfacePad;
    loop.destinationOrigin =
        loop.surfaceBits +
        (static_cast<std::ptrdiff_t>(surfaceRow) * destination.top + destination.left) * 3;
    loop.rowSkip = surfaceRow - destination.Width();
    loop.visibleRect = destination;
    loop.visibleRect.Offset(player.offsetX, player.offsetY);

    if (loop.backupSurface != nullptr) {
        plat::DeleteObject(loop.backupSurface);
        loop.backupSurface = nullptr;
    }
    Size backupSize(0, 0);
    bits = nullptr;
    loop.backupSurface = CreateSurface(nullptr, loop.visibleRect.Width(), loop.visibleRect.Height(),
                                       &backupSize, &bits, false, false);
    if (loop.backupSurface == nullptr) {
        return false;
    }
    loop.backupBits = bits;
    loop.backupPad = backupSize.cx - loop.visibleRect.Width();

    previous = plat::SelectObject(loop.memoryDC, loop.backupSurface);
    FillRectColour(loop.memoryDC, 0, 0, loop.visibleRect.Width(), loop.visibleRect.Height(),
                   player.backgroundColour);
    plat::SelectObject(loop.memoryDC, previous);

    loop.endMessage.store(MSG_ANIMATION_ENDED);
    loop.ended.store(0);
    loop.loopLeft.store(0);

    if (player.raisePriority) {
        loop.thread =
            plat::CreateThread(nullptr, 0, RenderLoopMain, &loop, plat::CREATE_SUSPENDED, nullptr);
        if (loop.thread == nullptr) {
            return false;
        }
        plat::SetThreadPriority(loop.thread, plat::THREAD_PRIORITY_ABOVE_NORMAL);
        plat::ResumeThread(loop.thread);
        return true;
    }
    loop.thread = plat::CreateThread(nullptr, 0, RenderLoopMain, &loop, 0, nullptr);
    return loop.thread != nullptr;
}

bool StopRenderLoop(AnimationPlayer& player) {
    RenderLoop& loop = player.renderLoop;
    // A thread that is running is always stopped, even for a player that a new AttachWindow
    // has marked unloaded meanwhile: its frames must not be freed under it.
    if ((!player.loaded || player.info.frameCount <= 1) && loop.thread == nullptr) {
        return false;
    }
    player.playing = false;
    if (loop.thread == nullptr) {
        loop.frameIndex = 0;
        return false;
    }
    loop.ended.store(1);
    loop.endMessage.store(0);

    bool finished = false;
    for (int slice = 0; slice < kStopWaitSlices && !finished; ++slice) {
        finished = plat::WaitForSingleObject(loop.thread, kStopWaitSliceMs) != plat::WAIT_TIMEOUT;
    }
    if (!finished) {
        plat::TerminateThread(loop.thread, kTerminatedExitCode);
        // Termination may take effect later (or not at all where the platform cannot do it);
        // only a thread seen to have ended lets its memory go.
        finished = plat::WaitForSingleObject(loop.thread, kStopWaitSliceMs) != plat::WAIT_TIMEOUT;
        if (!finished) {
            return false;
        }
    }
    loop.frameIndex = 0;
    ReleaseRenderLoop(loop);
    return true;
}

std::uint32_t PLAT_CALLBACK RenderLoopMain(void* record) {
    RenderLoop& loop = *static_cast<RenderLoop*>(record);
    const AnimationPlayer& player = *loop.owner;
    const std::int32_t frameCount = player.info.frameCount;
    loop.frameIndex = 0;
    std::uint32_t elapsed = 0;
    std::uint32_t due = 0;
    std::uint32_t last = plat::GetTickCount();

    while (loop.ended.load() == 0) {
        if (elapsed >= due) {
            ComposeNextFrame(loop, player, frameCount, due);
        }
        plat::HGDIOBJ previous = plat::SelectObject(loop.memoryDC, loop.surface);
        plat::BitBlt(loop.windowDC, loop.blitX, loop.blitY, loop.blitWidth, loop.blitHeight,
                     loop.memoryDC, 0, 0, plat::SRCCOPY);
        plat::SelectObject(loop.memoryDC, previous);
        plat::SendMessage(loop.window, MSG_FRAME_SHOWN, 0, 0);
        const std::uint32_t now = plat::GetTickCount();
        elapsed += now - last;  // modulo 2^32: right across a wrap of the tick counter
        last = now;
        plat::Sleep(kRenderPassMs);
    }

    loop.loopLeft.store(1);
    const std::uint32_t message = loop.endMessage.load();
    if (message != 0) {
        plat::PostMessage(loop.window, message, 0, 0);
    }
    return 0;
}

void FillRectColour(plat::HDC dc, std::int32_t x, std::int32_t y, std::int32_t width,
                    std::int32_t height, plat::COLORREF colour) {
    plat::HBRUSH brush = plat::CreateSolidBrush(colour);
    const plat::RECT rect{x, y, x + width, y + height};
    plat::FillRect(dc, &rect, brush);
    if (brush != nullptr) {
        plat::DeleteObject(brush);
    }
}

}  // namespace br
