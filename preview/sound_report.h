// What the device's sound service makes of a WAV file: whether it plays it, and if not, why
// and what is heard instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/wav.h"
#include "preview/json.h"

namespace preview {

struct SoundReport {
    std::string path;
    std::uint64_t fileBytes = 0;
    bool playable = false;
    std::string problem;  // why the device cannot play it
    plat::sim::detail::WavFormat format;
    std::uint64_t defaultSoundMs = 0;  // the beep the device plays in place of a bad file

    std::string Verdict() const;
};

// A RIFF/WAVE header, whatever follows.
bool LooksLikeWav(const std::vector<std::uint8_t>& bytes);

SoundReport AnalyseSound(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::string FormatSoundText(const SoundReport& report);
Json SoundToJson(const SoundReport& report);

}  // namespace preview
