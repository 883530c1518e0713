// Decoding a WAV the device accepted; see sound_samples.h.
#include "preview/sound_samples.h"

#include <algorithm>

#include "platform/sim/wav.h"

namespace preview {

namespace {

using plat::sim::detail::WavFormat;

constexpr std::uint16_t kPcm = 1, kMsAdpcm = 2, kImaAdpcm = 0x11, kExtensible = 0xFFFE;

std::int32_t S16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

float Clamp16(std::int32_t v) {
    return static_cast<float>(std::clamp(v, -32768, 32767)) / 32768.0f;
}

void DecodePcm(const std::uint8_t* data, const WavFormat& f, DeviceSound* out) {
    const std::size_t bytes = f.bitsPerSample / 8;
    const std::size_t count = static_cast<std::size_t>(f.sampleFrames) * f.channels;
    out->samples.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = data + i * bytes;
        float v = 0;
        switch (bytes) {
            case 1:
                v = (static_cast<int>(p[0]) - 128) / 128.0f;
                break;
            case 2:
                v = S16(p) / 32768.0f;
                break;
            case 3:
                v = static_cast<float>(static_cast<std::int32_t>(
                        (p[0] << 8) | (p[1] << 16) | (static_cast<std::uint32_t>(p[2]) << 24))) /
                    2147483648.0f;
                break;
            default:
                v = static_cast<float>(
                        static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                                  (static_cast<std::uint32_t>(p[3]) << 24))) /
                    2147483648.0f;
        }
        out->samples[i] = v;
    }
}

// IMA ADPCM: per block and channel a 4-byte header (first sample, step index), then 4-bit
// codes in groups of 4 bytes (8 samples) per channel, low nibble first.
struct ImaChannel {
    std::int32_t sample = 0;
    int index = 0;
    float Next(int code) {
        static const int kIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
        static const int kStep[89] = {
            7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,
            23,    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,
            73,    80,    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,
            230,   253,   279,   307,   337,   371,   408,   449,   494,   544,   598,   658,
            724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
            2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,
            7132,  7845,  8630,  9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350,
            22385, 24623, 27086, 29794, 32767};
        const int step = kStep[index];
        int diff = step >> 3;
        if (code & 4) diff += step;
        if (code & 2) diff += step >> 1;
        if (code & 1) diff += step >> 2;
        sample = std::clamp(sample + ((code & 8) ? -diff : diff), -32768, 32767);
        index = std::clamp(index + kIndex[code], 0, 88);
        return Clamp16(sample);
    }
};

void DecodeIma(const std::uint8_t* data, const WavFormat& f, DeviceSound* out) {
    const int ch = f.channels;
    out->samples.assign(static_cast<std::size_t>(f.sampleFrames) * ch, 0.0f);
    std::size_t frame = 0;
    for (std::size_t block = 0; frame < f.sampleFrames; block += f.blockAlign) {
        const std::uint8_t* b = data + block;
        const std::size_t size = std::min<std::size_t>(f.blockAlign, f.dataBytes - block);
        ImaChannel state[2];
        for (int c = 0; c < ch; ++c) {
            state[c].sample = S16(b + 4 * c);
            state[c].index = std::clamp<int>(b[4 * c + 2], 0, 88);
            out->samples[frame * ch + c] = Clamp16(state[c].sample);
        }
        // Codes after the headers: for each channel in turn, 4 bytes = 8 samples.
        const std::size_t codes = (size - 4 * ch) * 2 / ch;
        for (std::size_t k = 0; k < codes && frame + 1 + k < f.sampleFrames; ++k) {
            for (int c = 0; c < ch; ++c) {
                const std::size_t group = k / 8, within = k % 8;
                const std::uint8_t byte = b[4 * ch + (group * ch + c) * 4 + within / 2];
                const int code = within % 2 ? byte >> 4 : byte & 15;
                out->samples[(frame + 1 + k) * ch + c] = state[c].Next(code);
            }
        }
        frame += f.samplesPerBlock;
    }
}

// MS ADPCM: per block a header (per channel: predictor, delta, the two first samples, second
// sample first), then 4-bit codes, high nibble first, the channels interleaved.
void DecodeMs(const std::vector<std::uint8_t>& wav, const std::uint8_t* data, const WavFormat& f,
              DeviceSound* out) {
    static const int kAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                   768, 614, 512, 409, 307, 230, 230, 230};
    const std::size_t pairs =
        static_cast<std::size_t>(wav[f.formatOffset + 20] | (wav[f.formatOffset + 21] << 8));
    std::vector<std::int32_t> c1(pairs), c2(pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
        c1[i] = S16(&wav[f.formatOffset + 22 + 4 * i]);
        c2[i] = S16(&wav[f.formatOffset + 24 + 4 * i]);
    }
    const int ch = f.channels;
    out->samples.assign(static_cast<std::size_t>(f.sampleFrames) * ch, 0.0f);
    std::size_t frame = 0;
    for (std::size_t block = 0; frame < f.sampleFrames; block += f.blockAlign) {
        const std::uint8_t* b = data + block;
        const std::size_t size = std::min<std::size_t>(f.blockAlign, f.dataBytes - block);
        std::int32_t k1[2], k2[2], delta[2], s1[2], s2[2];
        for (int c = 0; c < ch; ++c) {
            const std::size_t p = std::min<std::size_t>(b[c], pairs - 1);
            k1[c] = c1[p];
            k2[c] = c2[p];
            delta[c] = S16(b + ch + 2 * c);
            s1[c] = S16(b + 3 * ch + 2 * c);
            s2[c] = S16(b + 5 * ch + 2 * c);
            out->samples[frame * ch + c] = Clamp16(s2[c]);
            if (frame + 1 < f.sampleFrames) out->samples[(frame + 1) * ch + c] = Clamp16(s1[c]);
        }
        const std::size_t nibbles = (size - 7 * ch) * 2;
        for (std::size_t n = 0; n < nibbles; ++n) {
            const std::size_t at = frame + 2 + n / ch;
            if (at >= f.sampleFrames) break;
            const int c = static_cast<int>(n % ch);
            const std::uint8_t byte = b[7 * ch + n / 2];
            const int code = n % 2 ? byte & 15 : byte >> 4;
            const int signedCode = code >= 8 ? code - 16 : code;
            const std::int32_t predicted = (s1[c] * k1[c] + s2[c] * k2[c]) / 256;
            const std::int32_t sample =
                std::clamp(predicted + signedCode * delta[c], -32768, 32767);
            delta[c] = std::max(16, kAdapt[code] * delta[c] / 256);
            s2[c] = s1[c];
            s1[c] = sample;
            out->samples[at * ch + c] = Clamp16(sample);
        }
        frame += f.samplesPerBlock;
    }
}

}  // namespace

bool DecodeDeviceSound(const std::vector<std::uint8_t>& wav, DeviceSound* sound, std::string* why) {
    WavFormat f;
    std::string problem;
    if (!plat::sim::detail::ParseWav(wav, &f, &problem)) {
        *why = problem.empty() ? "it is no WAV the device plays" : problem;
        return false;
    }
    sound->channels = f.channels;
    sound->sampleRate = static_cast<int>(f.sampleRate);
    const std::uint8_t* data = wav.data() + f.dataOffset;
    switch (f.formatTag) {
        case kPcm:
        case kExtensible:
            DecodePcm(data, f, sound);
            return true;
        case kImaAdpcm:
            DecodeIma(data, f, sound);
            return true;
        case kMsAdpcm:
            DecodeMs(wav, data, f, sound);
            return true;
        default:
            *why = "its format is not one the device plays";
            return false;
    }
}

}  // namespace preview
