// Internal seams between the parts of the simulated device. Not for use outside platform/sim.
#pragma once

#include <string>

namespace plat::sim::detail {

// Called by Reset() to give each part a fresh state (registry and files and sound keep their
// own state; the core owns the clock, threads, kernel objects, windows and drawing).
void ResetRegistry();
void ResetFiles(const std::string& deviceRoot);
void ResetSound();

}  // namespace plat::sim::detail
