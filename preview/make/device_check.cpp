// See device_check.h.
#include "preview/make/device_check.h"

#include "platform/sim/device.h"

namespace preview {

DeviceCheck CheckOnDevice(const std::vector<std::uint8_t>& gif, int screenWidth,
                          int screenHeight, std::uint64_t memoryLimit) {
    plat::sim::DeviceConfig config;
    config.screenWidth = screenWidth;
    config.screenHeight = screenHeight;
    plat::sim::Reset(config);
    plat::sim::SetBitmapMemoryLimit(0);
    const PictureReport report =
        AnalysePicture("boot.gif", gif, screenWidth, screenHeight, memoryLimit);
    DeviceCheck check;
    check.warnings = report.warnings;
    if (!report.memory.empty()) {
        check.fullSizeBitmapBytes = report.memory.front().bitmapBytes;
        check.fullSizeFrameBytes = report.memory.front().frameBytes;
    }
    check.surfaceBytes = report.surfaceBytes;
    check.decodeScale = report.decodeScale;
    check.showsAnimation = report.DeviceShowsAnimation();
    check.animationMs = report.animationMs;
    return check;
}

}  // namespace preview
