// See animation_player.h. Frame preparation (loading, scales, layout, composition) is in
// frame_preparation.cpp, the render thread in render_loop.cpp.
#include "player/animation_player.h"

#include "host/media_probe.h"

namespace br {

AnimationPlayer::AnimationPlayer()
    : frames(nullptr),
      playing(false),
      backgroundColour(0),
      decodeScale(1.0),
      window(nullptr),
      displayScale(1.0),
      offsetX(0),
      offsetY(0),
      scaledSize(0, 0),
      orientation(0),
      loaded(false),
      maxScale(kMaxDisplayScale),
      minScale(kMinDisplayScale),
      raisePriority(false) {
    info.Clear();
    renderLoop.owner = nullptr;
    ResetRenderLoop(renderLoop);
}

bool AnimationPlayer::AttachWindow(plat::HWND newWindow) {
    if (newWindow == nullptr) {
        return false;
    }
    window = newWindow;
    loaded = false;
    return true;
}

bool AnimationPlayer::SetBackgroundColour(plat::COLORREF colour) {
    backgroundColour = colour;
    return true;
}

bool AnimationPlayer::Load(const char16_t* path) {
    if (!PathExists(path)) {
        return false;
    }
    // The render thread reads the frames that are about to be dropped.
    if (renderLoop.thread != nullptr) {
        Stop();
        if (RenderThreadRunning(renderLoop)) {
            return false;
        }
    }
    FreeFrames();
    if (!LoadImageInfo(path) || !LoadFrames(path)) {
        FreeFrames();
        return false;
    }
    loaded = true;
    displayScale = ComputeDisplayScale();
    ComputeLayout();
    return true;
}

bool AnimationPlayer::Play(bool raise) {
    if (!loaded || info.frameCount < 2) {
        return false;
    }
    raisePriority = raise;
    if (playing) {
        return true;
    }
    return Restart();
}

bool AnimationPlayer::Restart() {
    StopRenderLoop(*this);
    if (!StartRenderLoop(*this)) {
        StopRenderLoop(*this);
        return false;
    }
    playing = true;
    return true;
}

bool AnimationPlayer::Stop() {
    return StopRenderLoop(*this);
}

void AnimationPlayer::FreeFrames() {
    if (frames != nullptr) {
        for (std::int32_t i = 0; i < info.frameCount; ++i) {
            delete frames[i];
        }
        FreeFrameList(frames, info.frameCount);
        frames = nullptr;
    }
    info.Reset();
    loaded = false;
}

bool AnimationPlayer::Destroy() {
    Stop();
    if (RenderThreadRunning(renderLoop)) {
        // The thread may still read the frames and write the surfaces: keep them.
        return false;
    }
    loaded = false;
    FreeFrames();
    ReleaseRenderLoop(renderLoop);
    info.Reset();
    return true;
}

}  // namespace br
