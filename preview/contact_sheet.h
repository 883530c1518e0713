// The contact sheet: every composed frame as a labelled thumbnail in a grid ("frame N" and
// "T ms" under each), drawn with a small built-in bitmap font so that it needs no font files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/image_files.h"

namespace preview {

struct SheetEntry {
    const RgbImage* image;
    int frameIndex;
    std::uint32_t timeMs;
};

// Lays out the entries in rows. Thumbnails are reduced (area average) to fit 120x160 for
// shows of up to 64 frames and smaller boxes for longer shows, so that the sheet stays a
// size that an image viewer opens comfortably.
RgbImage MakeContactSheet(const std::vector<SheetEntry>& entries);

// Draws text with the built-in 5x7 font (digits, lower-case letters, space and . : - / x),
// each font pixel as a square of `scale` pixels. Unknown characters draw as a box.
void DrawText(RgbImage* image, int x, int y, const std::string& text, int scale, std::uint8_t r,
              std::uint8_t g, std::uint8_t b);
int TextWidth(const std::string& text, int scale);

// Reduces an image to width x height by averaging the source pixels each target pixel covers.
RgbImage Shrink(const RgbImage& source, int width, int height);

}  // namespace preview
