// The show's inputs: the simulated device set up from the command line (registry file,
// device root, the --image and --sound shortcuts, memory limit), the registry's values as the
// device reads them, and the user's files read for the analysis.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/device.h"
#include "preview/options.h"

namespace preview {

// A path value of the mode's registry key as the device reads it.
struct RegistryPath {
    bool present = false;       // the key holds the value
    std::uint32_t type = 0;     // its registry type when present
    std::size_t length = 0;     // characters up to its first zero
    std::u16string devicePath;  // the path the device uses ("" when it has none)
    // Why the value gives the device no usable path, naming the key, the value and the
    // expected type; "" when it is a plain string path.
    std::string problem;
};

// What the device was given, resolved from the options.
struct DeviceSetup {
    std::string mode;           // "startup" or "shutdown"
    std::string deviceRoot;     // host folder standing for "\" ("" for none)
    std::string tempRoot;       // a folder we made for --image/--sound (removed afterwards)
    RegistryPath image, sound;  // the registry's values Image and WAV for the mode
    std::u16string imagePath;   // the paths the device uses ("" when it has none)
    std::u16string soundPath;
    std::uint32_t soundLevel = 0;
    bool hasSoundLevel = false;
    std::optional<std::uint32_t> soundLevelType;  // InitVol's type when it is no readable number
    std::uint32_t soundLevelSize = 0;
    std::string imageHostPath;  // where imagePath resolves on this computer ("" for nowhere)
    std::string usingSample;    // set when the bundled sample is shown
};

// Resolves the options and writes the registry of a freshly reset device. On bad input
// returns false with a one-line *error (exit code 2).
bool PrepareDevice(const Options& options, plat::sim::ClockMode clock, DeviceSetup* setup,
                   std::string* error);
// In shut-down mode the boot sequence's event "SHUTDOWN_ANIMATION_DONE" (manual reset, so
// that watching it does not consume the signal); none in start-up mode. The show opens it.
plat::HANDLE CreateShutdownDoneEvent(const Options& options);
// The folder of the bundled sample, shown when neither --image nor --registry is given.
std::string SamplesDir();
// Removes what PrepareDevice made for the shortcuts.
void CleanUpDevice(DeviceSetup* setup);

// The mode's registry key under HKEY_LOCAL_MACHINE.
std::u16string ModeKey(const std::string& mode);
// "REG_SZ (1)", "REG_DWORD (4)", ...
std::string RegistryTypeName(std::uint32_t type);

// The name under which a host file is placed on the device: characters that device file
// names cannot hold become '_', and a long name is shortened on a character boundary,
// keeping its extension (the default leaves room for "\\Storage\\" and a "2-" prefix within
// the device's 259 characters, counted in characters, not bytes).
std::string DeviceFileName(const std::string& hostName, std::size_t maxCharacters = 100);

// Reads a whole file. False with a one-line *error for a missing, unreadable or non-regular
// file (a directory, for example).
bool ReadInputFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error);

}  // namespace preview
