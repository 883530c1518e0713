// The contract tests' seam on the simulated device.
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

}  // namespace platform_test
