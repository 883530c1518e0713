// The samples of a sound exactly as the device accepted it: the WAV bytes its sound service
// took, decoded by the format its parser found (PCM of 8 to 32 bits, IMA and MS ADPCM), with no
// probing of formats and no second reading of the file. The recording's sound track is made
// from these, so the clip sounds what the device plays, also for files a desktop reader
// refuses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace preview {

struct DeviceSound {
    int channels = 0;
    int sampleRate = 0;
    std::vector<float> samples;  // interleaved, -1..1, sampleFrames * channels of them
};

// False with *why when the bytes are no WAV the device plays.
bool DecodeDeviceSound(const std::vector<std::uint8_t>& wav, DeviceSound* sound, std::string* why);

}  // namespace preview
