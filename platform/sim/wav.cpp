// RIFF/WAVE reading for the simulated device's sound service; see wav.h.
#include "platform/sim/wav.h"

#include <cmath>

namespace plat::sim::detail {

namespace {

std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8;
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

bool Tag(const std::vector<std::uint8_t>& b, std::size_t at, const char* tag) {
    for (int i = 0; i < 4; ++i) {
        if (b[at + i] != static_cast<std::uint8_t>(tag[i])) return false;
    }
    return true;
}

bool Refuse(std::string* problem, const char* why) {
    if (problem) *problem = why;
    return false;
}

void PutU16(std::vector<std::uint8_t>* b, std::uint32_t v) {
    b->push_back(static_cast<std::uint8_t>(v));
    b->push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>* b, std::uint32_t v) {
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}

}  // namespace

bool ParseWav(const std::vector<std::uint8_t>& bytes, WavFormat* format, std::string* problem) {
    if (bytes.size() < 12 || !Tag(bytes, 0, "RIFF") || !Tag(bytes, 8, "WAVE")) {
        return Refuse(problem, "not a RIFF/WAVE file");
    }
    const std::uint64_t riffEnd = 8 + static_cast<std::uint64_t>(U32(bytes, 4));
    if (riffEnd > bytes.size()) return Refuse(problem, "the file is shorter than its RIFF size");
    WavFormat f;
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= riffEnd) {
        const std::uint64_t chunkSize = U32(bytes, at + 4);
        const std::uint64_t body = at + 8;
        if (body + chunkSize > riffEnd)
            return Refuse(problem, "a chunk runs past the end of the file");
        if (Tag(bytes, at, "fmt ")) {
            if (chunkSize < 16) return Refuse(problem, "the format chunk is too short");
            if (U16(bytes, body) != 1) return Refuse(problem, "the sound is not PCM");
            f.channels = static_cast<std::uint16_t>(U16(bytes, body + 2));
            f.sampleRate = U32(bytes, body + 4);
            f.blockAlign = static_cast<std::uint16_t>(U16(bytes, body + 12));
            f.bitsPerSample = static_cast<std::uint16_t>(U16(bytes, body + 14));
            const bool bitsOk = f.bitsPerSample == 8 || f.bitsPerSample == 16 ||
                                f.bitsPerSample == 24 || f.bitsPerSample == 32;
            if (f.channels < 1 || f.channels > 8 || f.sampleRate < 1000 || f.sampleRate > 384000 ||
                !bitsOk || f.blockAlign != f.channels * (f.bitsPerSample / 8)) {
                return Refuse(problem, "the PCM format is not one the device plays");
            }
            haveFormat = true;
        } else if (Tag(bytes, at, "data")) {
            if (!haveFormat) return Refuse(problem, "the data chunk comes before the format");
            f.dataBytes = static_cast<std::uint32_t>(chunkSize);
            const std::uint64_t frames = chunkSize / f.blockAlign;
            f.durationMs = (frames * 1000 + f.sampleRate - 1) / f.sampleRate;
            *format = f;
            return true;
        }
        at = static_cast<std::size_t>(body + chunkSize +
                                      (chunkSize & 1));  // chunks are padded to even
    }
    return Refuse(problem, haveFormat ? "no data chunk" : "no format chunk");
}

const std::vector<std::uint8_t>& DefaultSoundWav() {
    // 150 ms of an 880 Hz tone at 11025 samples per second, 8-bit mono.
    static const std::vector<std::uint8_t> wav = [] {
        constexpr std::uint32_t kRate = 11025;
        constexpr std::uint32_t kSamples = kRate * 150 / 1000;
        std::vector<std::uint8_t> b;
        b.insert(b.end(), {'R', 'I', 'F', 'F'});
        PutU32(&b, 36 + kSamples + (kSamples & 1));  // RIFF size, the pad byte included
        b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
        PutU32(&b, 16);
        PutU16(&b, 1);      // PCM
        PutU16(&b, 1);      // mono
        PutU32(&b, kRate);  // samples per second
        PutU32(&b, kRate);  // bytes per second
        PutU16(&b, 1);      // block alignment
        PutU16(&b, 8);      // bits per sample
        b.insert(b.end(), {'d', 'a', 't', 'a'});
        PutU32(&b, kSamples);
        for (std::uint32_t i = 0; i < kSamples; ++i) {
            const double s = std::sin(2.0 * 3.141592653589793 * 880.0 * i / kRate);
            b.push_back(static_cast<std::uint8_t>(128 + 48 * s));
        }
        if (kSamples & 1) b.push_back(0);
        return b;
    }();
    return wav;
}

}  // namespace plat::sim::detail
