// Pictures the previewer writes and reads: 24-bit RGB images, PNG files (libpng) and the
// lossless animated WebP recording (libwebp's animation encoder).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace preview {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3, rows top-down

    RgbImage() = default;
    RgbImage(int w, int h, std::uint8_t r = 0, std::uint8_t g = 0, std::uint8_t b = 0);
    std::uint8_t* At(int x, int y) { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
    const std::uint8_t* At(int x, int y) const {
        return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    }
    bool operator==(const RgbImage& other) const {
        return width == other.width && height == other.height && rgb == other.rgb;
    }
};

// Builds an RGB image from the device's blue-green-red screen bytes.
RgbImage FromBgr(int width, int height, const std::vector<std::uint8_t>& bgr);

// Writes a 24-bit PNG. False with *error set on failure (the file may be left incomplete).
bool WritePng(const std::string& path, const RgbImage& image, std::string* error);
// Reads a PNG into 24-bit RGB (palette, grey and alpha are converted). False on failure.
bool ReadPng(const std::string& path, RgbImage* image, std::string* error);

// A lossless animated WebP that plays once, encoded picture by picture as the show runs (the
// encoder keeps only the compressed pictures until the file is written).
class WebpRecording {
  public:
    WebpRecording(int width, int height);
    ~WebpRecording();
    // The next picture, shown from startMs (pictures in order of time).
    bool Add(const RgbImage& picture, std::uint32_t startMs, std::string* error);
    // Ends the last picture at endMs and writes the file.
    bool Write(const std::string& path, std::uint32_t endMs, std::string* error);

    WebpRecording(const WebpRecording&) = delete;
    WebpRecording& operator=(const WebpRecording&) = delete;
    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace preview
