// RIFF/WAVE files as the simulated device's sound service accepts them: what the device's
// sound driver plays (PCM, also in the extensible format, and IMA and MS ADPCM), as the tools
// of the day write it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat::sim::detail {

struct WavFormat {
    std::uint16_t formatTag = 0;  // 1 PCM, 2 MS ADPCM, 0x11 IMA ADPCM, 0xFFFE extensible PCM
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t blockAlign = 0;  // bytes per sample frame (PCM) or per block (ADPCM)
    std::uint32_t samplesPerBlock = 0;  // sample frames per block: 1 for PCM
    std::uint32_t dataBytes = 0;   // length of the sample data
    std::uint64_t durationMs = 0;  // whole sample frames, rounded up to the next millisecond
    // Where the format chunk's body and the sample data start in the file, and how many
    // sample frames the device plays: what a listener needs to decode exactly what it accepted.
    std::size_t formatOffset = 0;
    std::size_t dataOffset = 0;
    std::uint64_t sampleFrames = 0;
};

// Checks that `bytes` form a WAV file the device plays and describes it. Played: PCM (format 1,
// or the extensible format 0xFFFE with the PCM sub-format) of 1 to 8 channels and 8, 16, 24 or
// 32 bits whose block alignment agrees; IMA ADPCM (0x11) and MS ADPCM (2) of 1 or 2 channels
// whose block size and samples per block agree; 1000 to 384000 samples per second. A RIFF size
// of 0 or 0xFFFFFFFF (left so by writers that stream) lets the file's end end the RIFF and the
// data chunk; an odd-sized chunk whose pad byte is missing is read as written. Refused (false,
// with *problem saying why): anything else, a data chunk missing or before the format, or a
// chunk that runs past the end of the file (a truncated file).
bool ParseWav(const std::vector<std::uint8_t>& bytes, WavFormat* format, std::string* problem);

// The device's default sound, played in place of a sound that cannot be found: a short beep
// (mono, 8-bit PCM).
const std::vector<std::uint8_t>& DefaultSoundWav();

}  // namespace plat::sim::detail
