// The tests' seam on the Windows backend: the screen is what the system has, and each test
// cleans up after itself, since nothing can reset the real system.
// clang-format off
#include <windows.h>
#include "platform/win32/undef_macros.h"
// clang-format on

#include <filesystem>

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
// The backend takes the device's "\" from the process environment (see platform/win32).
void SetDeviceRoot(const std::string& hostFolder) {
    const std::wstring folder = std::filesystem::path(hostFolder).wstring();
    ::SetEnvironmentVariableW(L"BOOTREEL_DEVICE_ROOT", folder.empty() ? nullptr : folder.c_str());
}
// Live objects are counted on the simulated device only.
int LiveGdiObjects() {
    return -1;
}
std::string LiveObjects() {
    return std::string();
}

DeviceThreadScope::DeviceThreadScope() {}
DeviceThreadScope::~DeviceThreadScope() {}

}  // namespace platform_test
