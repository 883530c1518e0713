// What the tests read back from the previewer's outputs, and a WebP made from given pictures:
// libpng's simplified reader, nlohmann's parser and the recording's own encoder.
#pragma once

#include <png.h>

#include <string>
#include <vector>

#include "preview/image_files.h"
#include "preview/json.h"

namespace preview {

// Reads a PNG into 24-bit RGB (palette, grey and alpha converted). False on failure.
inline bool ReadPng(const std::string& path, RgbImage* image, std::string* error) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        *error = "cannot read " + path + ": " + png.message;
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    RgbImage result(static_cast<int>(png.width), static_cast<int>(png.height));
    if (!png_image_finish_read(&png, nullptr, result.rgb.data(), 0, nullptr)) {
        *error = "cannot read " + path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    *image = std::move(result);
    return true;
}

// Parses a whole JSON document; false with *error set (position and reason) on failure.
inline bool ParseJson(const std::string& text, Json* value, std::string* error) {
    try {
        *value = Json::parse(text);
        return true;
    } catch (const Json::exception& e) {
        *error = e.what();
        return false;
    }
}

// One picture of an animation and how long it stays.
struct TimedImage {
    const RgbImage* image;
    std::uint32_t durationMs;
};

// A lossless animated WebP that plays once, through the recording's encoder.
inline bool WriteAnimatedWebp(const std::string& path, const std::vector<TimedImage>& frames,
                              std::string* error) {
    if (frames.empty()) {
        *error = "no frames to record";
        return false;
    }
    WebpRecording recording(frames[0].image->width, frames[0].image->height);
    std::uint32_t at = 0;
    for (const TimedImage& frame : frames) {
        if (!recording.Add(*frame.image, at, error)) return false;
        at += frame.durationMs == 0 ? 1 : frame.durationMs;
    }
    return recording.Write(path, at, error);
}

}  // namespace preview
