// Sound checks for `info`; see sound_report.h.
#include "preview/sound_report.h"

#include <cstring>
#include <sstream>

#include "preview/warnings.h"

namespace preview {

bool LooksLikeWav(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
           std::memcmp(bytes.data() + 8, "WAVE", 4) == 0;
}

SoundReport AnalyseSound(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    SoundReport r;
    r.path = path;
    r.fileBytes = bytes.size();
    r.playable = plat::sim::detail::ParseWav(bytes, &r.format, &r.problem);
    if (r.playable) r.problem.clear();
    if (!r.playable && r.problem.empty()) r.problem = "it is not a WAV file the device reads";
    plat::sim::detail::WavFormat beep;
    if (plat::sim::detail::ParseWav(plat::sim::detail::DefaultSoundWav(), &beep, nullptr)) {
        r.defaultSoundMs = beep.durationMs;
    }
    return r;
}

std::string SoundReport::Verdict() const {
    if (playable)
        return "the device plays the sound (" + std::to_string(format.durationMs) + " ms)";
    return "the device cannot play the sound: " + problem + "; it plays its default beep (" +
           std::to_string(defaultSoundMs) + " ms) in its place";
}

std::string FormatSoundText(const SoundReport& r) {
    std::ostringstream out;
    out << "sound " << r.path << ": " << r.fileBytes << " bytes";
    if (r.playable) {
        out << ", PCM " << r.format.bitsPerSample << "-bit, " << r.format.channels
            << (r.format.channels == 1 ? " channel, " : " channels, ") << r.format.sampleRate
            << " Hz, " << r.format.durationMs << " ms\n";
        out << "  the device plays it; at shut-down the show (and the boot sequence waiting for "
               "\"SHUTDOWN_ANIMATION_DONE\") lasts at least that long\n";
    } else {
        out << "\n"
            << WarningLines({SoundUnplayableWarning(
                                "this sound", r.problem,
                                "it plays its default beep (" +
                                    std::to_string(r.defaultSoundMs) + " ms) in its place")},
                            true);
    }
    return out.str();
}

Json SoundToJson(const SoundReport& r) {
    Json j = Json::object();
    j["path"] = r.path;
    j["fileBytes"] = r.fileBytes;
    j["playable"] = r.playable;
    if (r.playable) {
        j["channels"] = r.format.channels;
        j["sampleRate"] = r.format.sampleRate;
        j["bitsPerSample"] = r.format.bitsPerSample;
        j["durationMs"] = r.format.durationMs;
    } else {
        j["problem"] = r.problem;
        j["defaultSoundMs"] = r.defaultSoundMs;
    }
    return j;
}

}  // namespace preview
