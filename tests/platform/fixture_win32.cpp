// The contract tests' seam on the Windows backend: the screen is what the system has, and each
// test cleans up after itself, since nothing can reset the real system.
#include "platform/window.h"
#include "tests/platform/fixture.h"

namespace platform_test {

void FreshDevice() {}
int ScreenWidth() {
    return plat::GetSystemMetrics(plat::SM_CXSCREEN);
}
int ScreenHeight() {
    return plat::GetSystemMetrics(plat::SM_CYSCREEN);
}
bool VirtualClock() {
    return false;
}

}  // namespace platform_test
