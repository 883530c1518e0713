// The animation player: owns the decoded frames of one animated picture, places the picture in
// one window and plays it through its render loop.
//
// The host creates one player per show with new, then calls AttachWindow,
// SetBackgroundColour, Load and Play; at the end of the show Stop and Destroy, then delete.
// Every operation but ComposeFrame runs on the host thread. While the render thread runs, the
// host changes none of the fields it reads (frames, info, backgroundColour, the scales and the
// layout).
#pragma once

#include <cstdint>

#include "decode/decoder.h"
#include "decode/image.h"
#include "player/render_loop.h"
#include "raster/geometry.h"

namespace br {

// Colour of every pixel that no frame covers: white (0x00BBGGRR).
constexpr plat::COLORREF kShowBackground = 0x00FFFFFF;

// Steps of the decode-scale ladder: frames that cannot be decoded at full size are tried at
// half, a quarter, an eighth and a sixteenth of it.
constexpr double kSmallestDecodeScale = 0.0625;
// Bounds of the display scale.
constexpr double kMaxDisplayScale = 25.0;
constexpr double kMinDisplayScale = 0.005;

struct AnimationPlayer {
    // The constructed state: nothing loaded, no window, scales 1.0, background 0.
    AnimationPlayer();
    ~AnimationPlayer() = default;
    AnimationPlayer(const AnimationPlayer&) = delete;
    AnimationPlayer& operator=(const AnimationPlayer&) = delete;

    // Stores the window to draw into and clears `loaded` (Load measures the window, so a new
    // window needs a new Load). False, changing nothing, for no window.
    bool AttachWindow(plat::HWND newWindow);
    bool SetBackgroundColour(plat::COLORREF colour);
    // Reads the picture description and decodes every frame (down the decode-scale ladder when
    // memory is short), then computes the display scale and the layout. False when the file is
    // missing (nothing changes) or cannot be loaded (no frames remain).
    bool Load(const char16_t* path);
    // Starts the render thread. False for a player that is not loaded or whose picture has
    // fewer than 2 frames; true without a second thread when already playing.
    bool Play(bool raise);
    // Stops the render thread (StopRenderLoop). True when a render thread was stopped.
    bool Stop();
    // Deletes every frame and the list and resets `info`; clears `loaded`.
    void FreeFrames();
    // Stop, then releases frames, render loop and picture description. False only when a
    // render thread could not be seen to end: then nothing it may touch was released and the
    // player must not be freed yet (a later Destroy finishes the job).
    bool Destroy();

    // Frame preparation.
    bool LoadImageInfo(const char16_t* path);
    bool LoadFrames(const char16_t* path);
    double ComputeDisplayScale() const;
    void ComputeLayout();
    // The part of the window's client area that shows the picture: centred when the picture is
    // smaller than the window, the whole client area along a side where it is larger.
    Rect DestinationRect() const;
    // The part of the scaled picture (display coordinates) that frame `frameIndex` draws and
    // whose state its disposal method decides: the display pixels that show a picture pixel of
    // the frame, through the reduced picture when the frames were decoded smaller. Empty for a
    // frame with nothing to show.
    Rect FrameDisplayRect(std::int32_t frameIndex) const;
    // Draws frame `frameIndex` into a drawing surface. `destination` is the surface pixel of
    // DestinationRect()'s top-left; `rowSkip` counts the pixels from the end of one picture row
    // to the start of the next. Runs on the render thread.
    void ComposeFrame(std::uint8_t* destination, std::int32_t rowSkip,
                      std::int32_t frameIndex) const;

    FrameList frames;  // one layer per frame of `info`, owned; none when nothing is loaded
    bool playing;
    plat::COLORREF backgroundColour;
    double decodeScale;  // scale at which the frames were decoded (1 down to 1/16)
    plat::HWND window;
    CImgInfo info;
    double displayScale;   // picture pixels to window pixels
    std::int32_t offsetX;  // (scaled picture size - client size) / 2, truncated toward zero
    std::int32_t offsetY;
    Size scaledSize;  // picture size times displayScale
    Orientation orientation;
    bool loaded;
    double maxScale;
    double minScale;
    RenderLoop renderLoop;
    bool raisePriority;  // given to Play; the render thread runs one level above normal

  private:
    bool Restart();
};

}  // namespace br
