// Decoding speed of our GIF decoder against giflib (DGifSlurp) on the same in-memory bytes.
//
// The pictures are generated here with giflib's encoder: 640 x 480 animations of 100 frames
// (noise, a panned photograph-like gradient, plasma, the plasma interlaced), a 100-frame
// animation that changes small areas, and a large still picture. Each decoder runs
// single-threaded on the same bytes, best of several repeats; throughput is megapixels per
// second of frame rectangles, timed as thread CPU time. Our side is the whole public operation
// (DecodeFramesToSize at full size from a MemorySource into CImgLayers), giflib's is DGifOpen +
// DGifSlurp + close.
#include <gif_lib.h>
#if defined(__GLIBC__) || __has_include(<malloc.h>)
#include <malloc.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "bench/giflib_memory.h"
#include "decode/decoder.h"
#include "decode/memory_source.h"

namespace {

using bench::DecodeGiflib;
using bench::ThreadSeconds;

using Bytes = std::vector<std::uint8_t>;

struct Frame {
    int left, top, width, height;
    bool interlaced;
    std::vector<GifByteType> pixels;
};

int WriteToVector(GifFileType* file, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(file->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

Bytes Encode(int width, int height, const std::vector<Frame>& frames) {
    Bytes out;
    int error = 0;
    GifFileType* file = EGifOpen(&out, WriteToVector, &error);
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i) {
        colors[i].Red = static_cast<GifByteType>(i);
        colors[i].Green = static_cast<GifByteType>((i * 3) & 255);
        colors[i].Blue = static_cast<GifByteType>(255 - i);
    }
    ColorMapObject* map = GifMakeMapObject(256, colors);
    EGifSetGifVersion(file, true);
    EGifPutScreenDesc(file, width, height, 8, 0, map);
    for (const Frame& f : frames) {
        const GifByteType control[4] = {0x04, 4, 0, 0};  // keep, 40 ms
        EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, 4, control);
        EGifPutImageDesc(file, f.left, f.top, f.width, f.height, f.interlaced, nullptr);
        if (f.interlaced) {
            static const int kPasses[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
            for (const auto& pass : kPasses) {
                for (int y = pass[0]; y < f.height; y += pass[1]) {
                    EGifPutLine(file, const_cast<GifByteType*>(f.pixels.data()) + y * f.width,
                                f.width);
                }
            }
        } else {
            EGifPutLine(file, const_cast<GifByteType*>(f.pixels.data()), f.width * f.height);
        }
    }
    EGifCloseFile(file, &error);
    GifFreeMapObject(map);
    return out;
}

std::uint32_t Random(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 24;
}

Frame Full(int w, int h, bool interlaced, const std::function<int(int, int)>& pixel) {
    Frame f{0, 0, w, h, interlaced, {}};
    f.pixels.resize(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            f.pixels[static_cast<std::size_t>(y) * w + x] = static_cast<GifByteType>(pixel(x, y));
    }
    return f;
}

struct Sample {
    std::string name;
    Bytes gif;
    double megapixels;  // frame rectangles
};

// Builds the samples whose names contain `pick` (all when it is empty); generating them costs
// far more than decoding, so the ones not asked for are not made.
std::vector<Sample> MakeSamples(const std::string& pick) {
    std::vector<Sample> samples;
    auto wanted = [&](const std::string& name) { return name.find(pick) != std::string::npos; };
    const int w = 640, h = 480, n = 100;
    auto add = [&](const std::string& name, int sw, int sh, const std::vector<Frame>& frames) {
        double mp = 0;
        for (const Frame& f : frames) mp += static_cast<double>(f.width) * f.height / 1e6;
        samples.push_back({name, Encode(sw, sh, frames), mp});
    };
    if (wanted("noise 640x480x100")) {
        std::vector<Frame> frames;
        std::uint32_t state = 1;
        for (int i = 0; i < n; ++i)
            frames.push_back(Full(w, h, false, [&](int, int) { return Random(state); }));
        add("noise 640x480x100", w, h, frames);
    }
    if (wanted("panned gradient 640x480x100")) {
        // A smooth photograph-like picture (gradients, soft shapes, slight grain) panned across.
        std::vector<Frame> frames;
        std::uint32_t state = 7;
        for (int i = 0; i < n; ++i) {
            frames.push_back(Full(w, h, false, [&](int x, int y) {
                const double X = x + i * 4, Y = y + i * 2;
                const double v =
                    96 + 60 * std::sin(X / 97.0) * std::cos(Y / 131.0) + 0.12 * X - 0.05 * Y;
                return std::clamp(static_cast<int>(v) + static_cast<int>(Random(state) % 3), 0,
                                  255);
            }));
        }
        add("panned gradient 640x480x100", w, h, frames);
    }
    for (bool interlaced : {false, true}) {
        if (!wanted(interlaced ? "plasma interlaced 640x480x100" : "plasma 640x480x100")) continue;
        std::vector<Frame> frames;
        for (int i = 0; i < n; ++i) {
            frames.push_back(Full(w, h, interlaced, [&](int x, int y) {
                const double t = i * 0.15;
                const double v = std::sin(x / 16.0 + t) + std::sin(y / 8.0 - t) +
                                 std::sin((x + y) / 16.0 + t) +
                                 std::sin(std::sqrt(double(x * x + y * y)) / 8.0);
                return static_cast<int>((v + 4) * 31.9);
            }));
        }
        add(interlaced ? "plasma interlaced 640x480x100" : "plasma 640x480x100", w, h, frames);
    }
    if (wanted("small changes 640x480x100")) {
        std::vector<Frame> frames;
        frames.push_back(
            Full(w, h, false, [](int x, int y) { return ((x / 40) + (y / 40)) % 16; }));
        std::uint32_t state = 3;
        for (int i = 1; i < n; ++i) {
            Frame f = Full(48 + i % 17, 32 + i % 13, false, [&](int x, int y) {
                return (x + y + i) % 32 + static_cast<int>(Random(state) % 2);
            });
            f.left = (i * 37) % (w - f.width);
            f.top = (i * 23) % (h - f.height);
            frames.push_back(f);
        }
        add("small changes 640x480x100", w, h, frames);
    }
    if (wanted("large still 2400x1800")) {
        std::uint32_t state = 5;
        std::vector<Frame> frames = {Full(2400, 1800, false, [&](int x, int y) {
            const double v = 128 + 80 * std::sin(x / 211.0) * std::sin(y / 157.0) +
                             20 * std::cos((x - y) / 37.0);
            return std::clamp(static_cast<int>(v) + static_cast<int>(Random(state) % 4), 0, 255);
        })};
        add("large still 2400x1800", 2400, 1800, frames);
    }
    return samples;
}

bool DecodeOurs(const Bytes& gif) {
    br::CImgDecoder2 decoder;
    br::MemorySource source(gif);
    br::CImgInfo info;
    br::FrameList frames = nullptr;
    if (!decoder.DecodeFramesToSize(&source, &info, &frames, nullptr, nullptr)) return false;
    for (std::int32_t i = 0; i < info.frameCount; ++i) delete frames[i];
    br::FreeFrameList(frames, info.frameCount);
    return true;
}

// The whole public operation as the player calls it: frames clipped to the picture, decoded at
// the picture's size times `scale`.
bool DecodeAsPlayer(const Bytes& gif, double scale) {
    br::CImgDecoder2 decoder;
    br::MemorySource source(gif);
    br::DecoderImageInfo description;
    br::PresetImageInfo(&description);
    if (!decoder.GetImageInfo(&source, &description)) return false;
    const br::Size size = br::ScaleSize(description.width, description.height, scale, 0);
    const br::TargetSize target{size.cx, size.cy};
    const br::Rect picture(0, 0, description.width, description.height);
    br::CImgInfo info;
    br::FrameList frames = nullptr;
    if (!decoder.DecodeFramesToSize(&source, &info, &frames, &target, &picture)) return false;
    for (std::int32_t i = 0; i < info.frameCount; ++i) delete frames[i];
    br::FreeFrameList(frames, info.frameCount);
    return true;
}

// Runs both decoders alternately, so that both see the same conditions; best time of each.
bool BestSeconds(const std::function<bool()>& ours, const std::function<bool()>& theirs,
                 int repeats, double* oursBest, double* theirsBest) {
    *oursBest = *theirsBest = 1e30;
    for (int i = 0; i < repeats; ++i) {
        double start = ThreadSeconds();
        if (!ours()) return false;
        *oursBest = std::min(*oursBest, ThreadSeconds() - start);
        start = ThreadSeconds();
        if (!theirs()) return false;
        *theirsBest = std::min(*theirsBest, ThreadSeconds() - start);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Arguments: repeats (default 5), then optionally a word that picks the samples to run, then
    // optionally "ours" or "giflib" to run one decoder alone (for profiling; no ratio printed),
    // "half" to compare our decoding for a half-size picture with full size, or "write" to
    // store the samples as GIF files in the current folder.
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string only = argc > 3 ? argv[3] : "";
    const std::vector<Sample> samples = MakeSamples(argc > 2 ? argv[2] : "");
    if (samples.empty()) return 1;
    if (only == "write") {
        for (const Sample& s : samples) {
            std::string name = s.name;
            std::replace(name.begin(), name.end(), ' ', '_');
            std::FILE* file = std::fopen((name + ".gif").c_str(), "wb");
            if (file == nullptr) return 1;
            const bool ok = std::fwrite(s.gif.data(), 1, s.gif.size(), file) == s.gif.size();
            if (std::fclose(file) != 0 || !ok) return 1;
        }
        return 0;
    }
    if (only == "half") {
        // Decoding for a half-size picture against decoding at full size, both as the player
        // decodes: the ratio is full-size time over half-size time (above 1: half is faster).
        //
        // Memory freed after one decode is kept for the next, for both sizes alike (as
        // bench_gif_real does): with the C library's default, a full-size frame of 300 KB is
        // taken from the system once and then kept, while the half-size one of 75 KB is given
        // back and faulted in again on every repeat (two brk calls per decode), which decides
        // the comparison on pictures that decode in a third of a millisecond.
        // GIF_HALF_RETURN_MEMORY=1 keeps the library's default.
#if defined(M_TRIM_THRESHOLD) && defined(M_MMAP_THRESHOLD)
        if (std::getenv("GIF_HALF_RETURN_MEMORY") == nullptr) {
            mallopt(M_TRIM_THRESHOLD, 1 << 30);
            mallopt(M_MMAP_THRESHOLD, 1 << 30);
            std::printf(
                "between decodes, freed memory is kept by the C library for the next decode\n");
        }
#endif
        double logSum = 0;
        int count = 0;
        for (const Sample& s : samples) {
            double full = 0, half = 0;
            if (!BestSeconds([&] { return DecodeAsPlayer(s.gif, 1.0); },
                             [&] { return DecodeAsPlayer(s.gif, 0.5); }, repeats, &full, &half)) {
                std::printf("%-32s decoding failed\n", s.name.c_str());
                return 1;
            }
            std::printf("%-32s full %8.2f ms  half %8.2f ms  ratio %5.2f\n", s.name.c_str(),
                        full * 1e3, half * 1e3, full / half);
            logSum += std::log(full / half);
            ++count;
        }
        std::printf("half-size decode speed vs full size (geometric mean): %.2f\n",
                    std::exp(logSum / count));
        return 0;
    }
    if (!only.empty()) {
        const bool ours = only == "ours";
        for (const Sample& s : samples) {
            double best = 1e30;
            for (int i = 0; i < repeats; ++i) {
                const double start = ThreadSeconds();
                if (!(ours ? DecodeOurs(s.gif) : DecodeGiflib(s.gif))) return 1;
                best = std::min(best, ThreadSeconds() - start);
            }
            std::printf("%-32s %s %.1f MP/s\n", s.name.c_str(), only.c_str(), s.megapixels / best);
        }
        return 0;
    }
    double logSum = 0;
    int count = 0;
    std::printf("%-32s %9s %12s %12s %7s\n", "file", "bytes", "ours MP/s", "giflib MP/s", "ratio");
    for (const Sample& s : samples) {
        double ours = 0, theirs = 0;
        if (!BestSeconds([&] { return DecodeOurs(s.gif); }, [&] { return DecodeGiflib(s.gif); },
                         repeats, &ours, &theirs)) {
            std::printf("%-32s decoding failed\n", s.name.c_str());
            return 1;
        }
        const double ratio = theirs / ours;
        std::printf("%-32s %9zu %12.1f %12.1f %7.2f\n", s.name.c_str(), s.gif.size(),
                    s.megapixels / ours, s.megapixels / theirs, ratio);
        logSum += std::log(ratio);
        ++count;
    }
    std::printf("decode speed vs giflib (geometric mean): %.2f\n", std::exp(logSum / count));
    return 0;
}
