// The tests' seam on the simulated device.
#include <string>

#include "platform/sim/device.h"
#include "tests/platform/fixture.h"

namespace platform_test {

void FreshDevice() {
    plat::sim::Reset();
}
int ScreenWidth() {
    return 240;
}
int ScreenHeight() {
    return 320;
}
bool VirtualClock() {
    return true;
}
void SetDeviceRoot(const std::string& hostFolder) {
    plat::sim::SetDeviceRoot(hostFolder);
}
int LiveGdiObjects() {
    return plat::sim::Live().gdiObjects;
}
std::string LiveObjects() {
    const plat::sim::Counts live = plat::sim::Live();
    return "threads " + std::to_string(live.threads) + ", handles " + std::to_string(live.handles) +
           ", drawing objects " + std::to_string(live.gdiObjects) + ", contexts " +
           std::to_string(live.deviceContexts) + ", bitmap bytes " +
           std::to_string(live.bitmapBytes);
}

DeviceThreadScope::DeviceThreadScope() : scope_(new plat::sim::DeviceThreadScope()) {}
DeviceThreadScope::~DeviceThreadScope() {
    delete static_cast<plat::sim::DeviceThreadScope*>(scope_);
}

}  // namespace platform_test
