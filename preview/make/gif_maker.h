// Turns a sequence of screen-sized pictures into the GIF that costs the device least: every
// frame after the first holds only the rectangle that changed (the device keeps each frame's
// decoded rectangle in memory for the whole show), pixels inside it that did not change are
// transparent (smaller files), frames that change nothing lengthen the one before, and each
// frame gets its own palette from libimagequant (exact when it has 255 colours or fewer,
// dithered otherwise). The file is written with giflib's encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/image_files.h"

namespace preview {

struct MakerSettings {
    // A pixel counts as changed when a channel differs by more than this from the source
    // value it was last drawn from; smaller differences keep what the screen shows.
    int threshold = 6;
    // Dithering of frames with more colours than a palette holds (0 to 1).
    float dither = 0.5f;
    int maxColours = 256;  // 2 to 256
    int speed = 6;         // libimagequant's speed, 1 (best) to 10 (fastest)
};

class GifMaker {
  public:
    GifMaker(int width, int height, const MakerSettings& settings);

    // The next picture (the screen's size), to be shown for delayCs hundredths of a second.
    void Add(const RgbImage& screen, int delayCs);
    // Ends the animation: the last picture stays holdCs, then a one-pixel copy of what is
    // there ends the show (the device shows the last frame for one pass only).
    void Finish(int holdCs);
    bool Write(std::vector<std::uint8_t>* gif, std::string* error) const;

    std::size_t FrameCount() const { return frames_.size(); }
    // What the screen shows after the frames so far.
    const RgbImage& Canvas() const { return canvas_; }

  private:
    struct Frame {
        int left = 0, top = 0, width = 0, height = 0;
        int delayCs = 0;
        int transparent = -1;
        std::vector<std::uint8_t> palette;  // r, g, b per entry
        std::vector<std::uint8_t> pixels;   // palette indices, rows top-down
    };
    struct Box {
        int left, top, right, bottom;
    };
    // The smallest box holding the changed pixels inside `box`.
    Box Tighten(const std::vector<std::uint8_t>& changed, Box box) const;
    // Two boxes that hold every changed pixel of `box` in much less memory, if there are.
    bool Split(const std::vector<std::uint8_t>& changed, Box box, Box* first, Box* second) const;
    // A frame of the changed pixels inside the box.
    void Emit(const RgbImage& screen, const std::vector<std::uint8_t>& changed, Box box,
              int delayCs);
    void Quantise(const std::vector<std::uint8_t>& rgba, bool anyTransparent, Frame* frame) const;

    int width_, height_;
    MakerSettings settings_;
    RgbImage canvas_;     // what the device's screen shows
    RgbImage reference_;  // the source value each screen pixel was drawn from
    std::vector<Frame> frames_;
};

}  // namespace preview
