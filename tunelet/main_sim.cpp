// Tunelet's entry on the simulated device: a device that runs on real time, whose file system
// is the host folder named by BOOTREEL_DEVICE_ROOT. Arguments are ignored, as on the device.
#include "platform/sim/device.h"
#include "tunelet/tunelet.h"

namespace {
constexpr int kShowNormal = 1;
}

int main() {
    plat::sim::DeviceConfig config;
    config.clock = plat::sim::ClockMode::Real;
    // config.deviceRoot stays empty: the device takes its root from BOOTREEL_DEVICE_ROOT.
    plat::sim::Reset(config);
    char16_t commandLine[] = u"";
    return TuneletMain(nullptr, nullptr, commandLine, kShowNormal);
}
