// The previewer's own verdict on a made picture, reached through this one function so that
// `make` judges its result exactly as `info` and `show` do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "preview/picture_report.h"

namespace preview {

struct DeviceCheck {
    std::vector<Warning> warnings;       // what `info` would warn about
    std::uint64_t fullSizeBitmapBytes = 0; // frames and drawing surfaces at full size
    std::uint64_t fullSizeFrameBytes = 0;  // the frames alone
    std::uint64_t surfaceBytes = 0;
    double decodeScale = 0;              // the scale the device reaches; 0 when none
    bool showsAnimation = false;
    std::uint32_t animationMs = 0;       // render start to the end of the animation
    bool FitsAtFullSize() const { return showsAnimation && decodeScale == 1.0; }
};

// Resets the simulated device to the screen and analyses the GIF bytes as `info` does.
DeviceCheck CheckOnDevice(const std::vector<std::uint8_t>& gif, int screenWidth,
                          int screenHeight, std::uint64_t memoryLimit);

}  // namespace preview
