// RIFF/WAVE files as the simulated device's sound service accepts them: uncompressed PCM only,
// as the device's sound driver plays nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat::sim::detail {

struct WavFormat {
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t blockAlign = 0;  // bytes per sample frame
    std::uint32_t dataBytes = 0;   // length of the sample data
    std::uint64_t durationMs = 0;  // whole sample frames, rounded up to the next millisecond
};

// Checks that `bytes` form a playable RIFF/WAVE PCM file and describes it. A file is refused
// (false, with *problem saying why) when it is not RIFF/WAVE, when its format chunk is not PCM
// (format 1) with 1 to 8 channels, 1000 to 384000 samples per second and 8, 16, 24 or 32 bits
// whose block alignment agrees, when the data chunk is missing or comes before the format, or
// when a chunk runs past the end of the file (a truncated file).
bool ParseWav(const std::vector<std::uint8_t>& bytes, WavFormat* format, std::string* problem);

// The device's default sound, played in place of a sound that cannot be found: a short beep
// (mono, 8-bit PCM).
const std::vector<std::uint8_t>& DefaultSoundWav();

}  // namespace plat::sim::detail
