// bootreel-media: writes the pictures and the sound that the end-to-end shows play, so that the
// checks know every pixel they expect.
//
//   bootreel-media.exe FOLDER
//
// Writes into FOLDER:
//   colours.gif  64x48, three frames on a palette of white, red, green, blue (+ index 4 as the
//                transparent index):
//                0: the whole picture red; keep (disposal 1); 500 ms
//                1: a 32x24 rectangle at (16,12), its left half transparent and its right half
//                   green; keep; 2500 ms
//                2: the whole picture blue; 100 ms (not waited for: the last frame ends it)
//   long.gif     64x48, two frames of 10 s each (red, then green): a show that only an end
//                request cuts short
//   short.gif    64x48, two frames of 200 ms each (red, then blue)
//   sound.wav    6 s of 8-bit mono PCM at 8000 Hz (a quiet square wave): longer than any of the
//                pictures, so that a sound played to its end outlasts the animation even where
//                the sound output runs faster than real time (Wine on ALSA's null device does)
//
// The GIF89a writer emits a clear code before every second pixel code, so that every code is
// 4 bits wide and no decoder ever sees a table entry in use: plain, valid, and easy to follow.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kWhite = 0, kRed = 1, kGreen = 2, kBlue = 3, kClear = 4;

struct Frame {
    int left, top, width, height;
    int disposal;
    int delayCs;  // hundredths of a second
    bool transparent;
    std::vector<std::uint8_t> pixels;  // palette indices, rows top-down
};

void Put16(Bytes* out, int value) {
    out->push_back(static_cast<std::uint8_t>(value & 0xFF));
    out->push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void Put32(Bytes* out, std::uint32_t value) {
    Put16(out, static_cast<int>(value & 0xFFFF));
    Put16(out, static_cast<int>(value >> 16));
}

// LZW data for minimum code size 3: clear = 8, end = 9, all codes 4 bits, packed from the
// least significant bit, cut into sub-blocks of at most 255 bytes.
void PutImageData(Bytes* out, const std::vector<std::uint8_t>& pixels) {
    constexpr int kMinCodeSize = 3, kClearCode = 8, kEndCode = 9, kWidth = 4;
    std::vector<int> codes;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0) codes.push_back(kClearCode);
        codes.push_back(pixels[i]);
    }
    codes.push_back(kEndCode);
    Bytes packed;
    std::uint32_t bits = 0;
    int count = 0;
    for (int code : codes) {
        bits |= static_cast<std::uint32_t>(code) << count;
        count += kWidth;
        while (count >= 8) {
            packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0) packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    out->push_back(kMinCodeSize);
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - at);
        out->push_back(static_cast<std::uint8_t>(n));
        out->insert(out->end(), packed.begin() + at, packed.begin() + at + n);
    }
    out->push_back(0);  // block terminator
}

Bytes Gif(int width, int height, const std::vector<Frame>& frames) {
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(&out, width);
    Put16(&out, height);
    out.push_back(0x80 | 0x02);  // global colour table of 2^(2+1) = 8 entries
    out.push_back(kWhite);       // background colour index
    out.push_back(0);            // no aspect ratio
    const std::uint8_t palette[8][3] = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                                        {0, 0, 0},       {0, 0, 0},   {0, 0, 0},   {0, 0, 0}};
    for (const auto& entry : palette) out.insert(out.end(), entry, entry + 3);
    for (const Frame& f : frames) {
        // Graphic control extension: disposal, transparency, delay, transparent index.
        out.insert(out.end(), {0x21, 0xF9, 4});
        out.push_back(static_cast<std::uint8_t>((f.disposal << 2) | (f.transparent ? 1 : 0)));
        Put16(&out, f.delayCs);
        out.push_back(kClear);
        out.push_back(0);
        // Image descriptor, no local colour table, not interlaced.
        out.push_back(0x2C);
        Put16(&out, f.left);
        Put16(&out, f.top);
        Put16(&out, f.width);
        Put16(&out, f.height);
        out.push_back(0);
        PutImageData(&out, f.pixels);
    }
    out.push_back(0x3B);  // trailer
    return out;
}

Frame Solid(int width, int height, std::uint8_t colour, int delayCs) {
    return Frame{0, 0, width, height, 1, delayCs, false,
                 std::vector<std::uint8_t>(static_cast<std::size_t>(width * height), colour)};
}

Bytes Wav(int sampleRate, int milliseconds) {
    const std::uint32_t samples = static_cast<std::uint32_t>(sampleRate) * milliseconds / 1000;
    Bytes out = {'R', 'I', 'F', 'F'};
    Put32(&out, 36 + samples);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(&out, 16);
    Put16(&out, 1);  // PCM
    Put16(&out, 1);  // mono
    Put32(&out, static_cast<std::uint32_t>(sampleRate));
    Put32(&out, static_cast<std::uint32_t>(sampleRate));  // bytes per second
    Put16(&out, 1);                                        // block align
    Put16(&out, 8);                                        // bits per sample
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(&out, samples);
    for (std::uint32_t i = 0; i < samples; ++i) out.push_back((i / 10) % 2 ? 0x90 : 0x70);
    return out;
}

bool Write(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bootreel-media FOLDER\n");
        return 1;
    }
    const std::string folder = std::string(argv[1]) + "\\";
    constexpr int kW = 64, kH = 48;

    Frame window{16, 12, 32, 24, 1, 250, true, {}};
    for (int y = 0; y < window.height; ++y) {
        for (int x = 0; x < window.width; ++x) {
            window.pixels.push_back(x < window.width / 2 ? kClear : kGreen);
        }
    }
    const Bytes colours = Gif(kW, kH, {Solid(kW, kH, kRed, 50), window, Solid(kW, kH, kBlue, 10)});
    const Bytes longShow = Gif(kW, kH, {Solid(kW, kH, kRed, 1000), Solid(kW, kH, kGreen, 1000)});
    const Bytes shortShow = Gif(kW, kH, {Solid(kW, kH, kRed, 20), Solid(kW, kH, kBlue, 20)});

    if (!Write(folder + "colours.gif", colours) || !Write(folder + "long.gif", longShow) ||
        !Write(folder + "short.gif", shortShow) || !Write(folder + "sound.wav", Wav(8000, 6000))) {
        std::fprintf(stderr, "bootreel-media: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
