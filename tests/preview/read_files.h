// What the tests read back from the previewer's outputs (JSON through nlohmann's parser), and a
// WebP made from given pictures through the recording's own encoder.
#pragma once

#include <string>
#include <vector>

#include "preview/image_files.h"
#include "preview/json.h"

namespace preview {

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
