// The contact sheet (the show's frames as labelled thumbnails under a caption that says what
// was shown, how and with which warnings) and the text drawing it needs: DejaVu Sans through
// Cairo, so that every character a file name may hold is drawn properly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "preview/image_files.h"

namespace preview {

// A picture to draw on with anti-aliased text.
class Canvas {
  public:
    Canvas(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b);
    ~Canvas();
    void Fill(int x, int y, int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b);
    void Put(const RgbImage& image, int x, int y);
    // Draws one line with its top at y; returns its width. `sizePx`: the font's em size.
    int Text(int x, int y, const std::string& utf8, double sizePx, std::uint8_t r, std::uint8_t g,
             std::uint8_t b, bool bold = false);
    int TextWidth(const std::string& utf8, double sizePx, bool bold = false);
    RgbImage ToRgb() const;

    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

struct SheetEntry {
    const RgbImage* image;  // a thumbnail (see ThumbnailSize)
    int frameIndex;
    std::uint32_t timeMs;
};

// What the sheet says above the thumbnails: a title line and lines below it.
struct SheetCaption {
    std::string title;
    std::vector<std::string> lines;
};

// The most thumbnails a sheet holds; longer shows are sampled (every 2nd, 4th, ... frame).
constexpr std::size_t kMaxThumbnails = 1024;

// Thumbnail size for a show of `count` frames of a width x height screen: fits 120x160 up to
// 64 frames and a smaller box for longer shows, so that the sheet stays a size that an image
// viewer opens comfortably.
void ThumbnailSize(std::size_t count, int width, int height, int* thumbWidth, int* thumbHeight);

// Lays out the caption and the entries (thumbnails of one size) in rows.
RgbImage MakeContactSheet(const std::vector<SheetEntry>& entries, const SheetCaption& caption);

// Reduces an image to width x height by averaging the source pixels each target pixel covers.
RgbImage Shrink(const RgbImage& source, int width, int height);

}  // namespace preview
