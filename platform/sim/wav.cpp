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

namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatMsAdpcm = 0x0002;
constexpr std::uint16_t kFormatImaAdpcm = 0x0011;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// The sub-format of an extensible format chunk that stands for PCM samples.
constexpr std::uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Four bytes that can name a chunk: printable, not starting with a space.
bool ChunkId(const std::vector<std::uint8_t>& b, std::size_t at) {
    if (at + 4 > b.size() || b[at] == ' ') return false;
    for (int i = 0; i < 4; ++i) {
        if (b[at + i] < 0x20 || b[at + i] > 0x7E) return false;
    }
    return true;
}

// The chunks that WAV writers commonly put in a file.
bool KnownChunk(const std::vector<std::uint8_t>& b, std::size_t at) {
    if (at + 4 > b.size()) return false;
    for (const char* id : {"fmt ", "data", "fact", "LIST", "JUNK", "PAD ", "bext", "cue ", "smpl",
                           "id3 ", "ID3 ", "inst", "PEAK"}) {
        if (Tag(b, at, id)) return true;
    }
    return false;
}

// Checks a format chunk of `size` bytes at `body` and fills the format's fields.
bool ReadFormat(const std::vector<std::uint8_t>& b, std::size_t body, std::uint64_t size,
                WavFormat* f, std::string* problem) {
    if (size < 16) return Refuse(problem, "the format chunk is too short");
    f->formatTag = static_cast<std::uint16_t>(U16(b, body));
    f->channels = static_cast<std::uint16_t>(U16(b, body + 2));
    f->sampleRate = U32(b, body + 4);
    f->blockAlign = static_cast<std::uint16_t>(U16(b, body + 12));
    f->bitsPerSample = static_cast<std::uint16_t>(U16(b, body + 14));
    const std::uint32_t extra = size >= 18 ? U16(b, body + 16) : 0;
    if (18 + static_cast<std::uint64_t>(extra) > size && extra != 0) {
        return Refuse(problem, "the format chunk is shorter than its extra bytes say");
    }
    if (f->sampleRate < 1000 || f->sampleRate > 384000) {
        return Refuse(problem, "the sample rate is not one the device plays");
    }
    switch (f->formatTag) {
        case kFormatExtensible:
            if (extra < 22) return Refuse(problem, "the extensible format chunk is too short");
            for (int i = 0; i < 16; ++i) {
                if (b[body + 24 + i] != kPcmSubFormat[i]) {
                    return Refuse(problem, "the extensible format's samples are not PCM");
                }
            }
            if (U16(b, body + 18) > f->bitsPerSample) {
                return Refuse(problem, "the extensible format has more valid bits than bits");
            }
            [[fallthrough]];
        case kFormatPcm: {
            const bool bitsOk = f->bitsPerSample == 8 || f->bitsPerSample == 16 ||
                                f->bitsPerSample == 24 || f->bitsPerSample == 32;
            if (f->channels < 1 || f->channels > 8 || !bitsOk ||
                f->blockAlign != f->channels * (f->bitsPerSample / 8)) {
                return Refuse(problem, "the PCM format is not one the device plays");
            }
            f->samplesPerBlock = 1;
            return true;
        }
        case kFormatImaAdpcm:
        case kFormatMsAdpcm: {
            // A block starts with a header per channel (4 bytes for IMA, 7 for MS, holding 1
            // and 2 samples) followed by 4-bit samples.
            const bool ima = f->formatTag == kFormatImaAdpcm;
            const std::uint32_t header = (ima ? 4u : 7u) * f->channels;
            const std::uint32_t inHeader = ima ? 1 : 2;
            if (f->channels < 1 || f->channels > 2 || f->bitsPerSample != 4 || extra < 2 ||
                f->blockAlign <= header) {
                return Refuse(problem, "the ADPCM format is not one the device plays");
            }
            f->samplesPerBlock = U16(b, body + 18);
            if (f->samplesPerBlock != (f->blockAlign - header) * 2 / f->channels + inHeader) {
                return Refuse(problem, "the ADPCM block size and samples per block disagree");
            }
            if (!ima) {
                // The coefficient table: at least the 7 standard pairs.
                const std::uint32_t pairs = extra >= 4 ? U16(b, body + 20) : 0;
                if (pairs < 7 || pairs > 256 || 4 + 4 * pairs > extra) {
                    return Refuse(problem, "the MS ADPCM coefficient table is missing or short");
                }
            }
            return true;
        }
        default: {
            static const char kHex[] = "0123456789ABCDEF";
            std::string why = "the sound is coded in format 0x";
            for (int shift = 12; shift >= 0; shift -= 4) why += kHex[(f->formatTag >> shift) & 15];
            why += ", which the device does not play (PCM and ADPCM only)";
            if (problem) *problem = why;
            return false;
        }
    }
}

// Sample frames in `bytes` of sample data: whole frames for PCM; whole blocks and the samples
// of a last, short block for ADPCM.
std::uint64_t SampleFrames(const WavFormat& f, std::uint64_t bytes) {
    if (f.formatTag != kFormatImaAdpcm && f.formatTag != kFormatMsAdpcm) {
        return bytes / f.blockAlign;
    }
    const bool ima = f.formatTag == kFormatImaAdpcm;
    const std::uint64_t header = (ima ? 4u : 7u) * f.channels;
    std::uint64_t frames = bytes / f.blockAlign * f.samplesPerBlock;
    const std::uint64_t rest = bytes % f.blockAlign;
    if (rest >= header) frames += (rest - header) * 2 / f.channels + (ima ? 1 : 2);
    return frames;
}

}  // namespace

bool ParseWav(const std::vector<std::uint8_t>& bytes, WavFormat* format, std::string* problem) {
    if (bytes.size() < 12 || !Tag(bytes, 0, "RIFF") || !Tag(bytes, 8, "WAVE")) {
        return Refuse(problem, "not a RIFF/WAVE file");
    }
    // Writers that stream (to a pipe, say) cannot go back to fill in the sizes: they leave the
    // RIFF size 0 or 0xFFFFFFFF, and the data chunk's size too; the file's end then ends both.
    const std::uint32_t riffSize = U32(bytes, 4);
    const bool streamed = riffSize == 0 || riffSize == 0xFFFFFFFF;
    std::uint64_t riffEnd = streamed ? bytes.size() : 8 + static_cast<std::uint64_t>(riffSize);
    // A RIFF size that counts the pad byte of a last, odd-sized chunk that was never written.
    if (riffEnd == bytes.size() + 1) riffEnd = bytes.size();
    if (riffEnd > bytes.size()) return Refuse(problem, "the file is shorter than its RIFF size");
    WavFormat f;
    bool haveFormat = false;
    std::uint64_t factFrames = 0;
    bool haveFact = false;
    std::size_t at = 12;
    while (at + 8 <= riffEnd) {
        std::uint64_t chunkSize = U32(bytes, at + 4);
        const std::size_t body = at + 8;
        const bool data = Tag(bytes, at, "data");
        if (data && streamed &&
            (chunkSize == 0 || chunkSize == 0xFFFFFFFF || body + chunkSize > riffEnd)) {
            chunkSize = riffEnd - body;
        }
        if (body + chunkSize > riffEnd) {
            return Refuse(problem, "a chunk runs past the end of the file");
        }
        if (Tag(bytes, at, "fmt ")) {
            if (!ReadFormat(bytes, body, chunkSize, &f, problem)) return false;
            f.formatOffset = body;
            haveFormat = true;
        } else if (Tag(bytes, at, "fact") && chunkSize >= 4) {
            factFrames = U32(bytes, body);
            haveFact = true;
        } else if (data) {
            if (!haveFormat) return Refuse(problem, "the data chunk comes before the format");
            f.dataBytes = static_cast<std::uint32_t>(chunkSize);
            // Compressed sound says in its fact chunk how many sample frames it holds; the
            // data bytes tell only up to the last block's padding.
            std::uint64_t frames = SampleFrames(f, chunkSize);
            if (haveFact && f.formatTag != kFormatPcm && f.formatTag != kFormatExtensible &&
                factFrames <= frames) {
                frames = factFrames;
            }
            f.durationMs = (frames * 1000 + f.sampleRate - 1) / f.sampleRate;
            f.dataOffset = body;
            f.sampleFrames = frames;
            *format = f;
            return true;
        }
        // Chunks are padded to an even length. Some writers leave the pad byte of an odd-sized
        // chunk out; the next chunk's name then starts one byte earlier.
        const std::size_t next = static_cast<std::size_t>(body + chunkSize);
        at = next + (chunkSize & 1);
        const bool padMissing =
            !ChunkId(bytes, next + 1) || (KnownChunk(bytes, next) && !KnownChunk(bytes, next + 1));
        if ((chunkSize & 1) != 0 && ChunkId(bytes, next) && padMissing) {
            at = next;
        }
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
