// Decoding speed on real GIF files: our decoder against giflib and, when they were built, Wuffs
// and libnsgif, file by file.
//
// The files are those listed in bench/gif_corpus.txt, fetched from Debian packages by
// scripts/gif-corpus.sh. Every file is first decoded once by giflib and by us outside the
// clock, and our indices are compared with giflib's on every frame; a file giflib refuses is
// left out (it has no reference time). Then the decoders run interleaved on the file, each
// timed as this thread's CPU time, best of several repeats; a file that decodes in less than
// about 0.2 ms is decoded several times per measurement so that the clock's own cost does not
// count. The ratio of a file is the peer's time divided by ours (above 1: we are faster).
//
// What each timed call does:
//  - ours: the public operation the show uses, DecodeFramesToSize at full size from a
//    MemorySource, keeping every frame in its own bitmap section, then freeing them;
//  - giflib: DGifOpen + DGifSlurp + DGifCloseFile (every frame kept, as indices);
//  - Wuffs: every frame as palette indices into one reused canvas of the screen's size;
//  - libnsgif: every frame composed as 32-bit colour into one reused canvas.
//
// Usage: bench_gif_real CORPUS_ROOT LIST [repeats [DECODER]]
// With a decoder's name (ours, giflib, wuffs, libnsgif) only that one decodes every file
// `repeats` times, with no check and no ratio: for profiling.
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
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/giflib_memory.h"
#include "decode/decoder.h"
#include "decode/memory_source.h"

#ifdef BOOTREEL_GIF_PEERS
#include "bench/gif_peers.h"
#endif

namespace {

using bench::DecodeGiflib;
using bench::ThreadSeconds;

using Bytes = std::vector<std::uint8_t>;

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

// The reference decode: frame count, pixels of all frame rectangles, and whether our indices
// equal giflib's on every frame (`mismatch` says where they first differ).
struct Check {
    bool giflibOk = false;
    bool oursOk = false;
    int frames = 0;
    double pixels = 0;
    std::string mismatch;
};

Check CheckAgainstGiflib(const Bytes& gif) {
    Check check;
    bench::GiflibCursor cursor{&gif, 0};
    int error = 0;
    GifFileType* file = DGifOpen(&cursor, bench::ReadFromMemory, &error);
    if (file == nullptr) return check;
    if (DGifSlurp(file) != GIF_OK) {
        DGifCloseFile(file, &error);
        return check;
    }
    check.giflibOk = true;
    check.frames = file->ImageCount;
    for (int i = 0; i < file->ImageCount; ++i) {
        const GifImageDesc& d = file->SavedImages[i].ImageDesc;
        check.pixels += static_cast<double>(d.Width) * d.Height;
    }

    br::CImgDecoder2 decoder;
    br::MemorySource source(gif);
    br::CImgInfo info;
    br::FrameList frames = nullptr;
    check.oursOk = decoder.DecodeFramesToSize(&source, &info, &frames, nullptr, nullptr) == 1;
    if (check.oursOk) {
        if (info.frameCount != file->ImageCount) {
            check.mismatch = "frame count " + std::to_string(info.frameCount) + " against " +
                             std::to_string(file->ImageCount);
        }
        for (int i = 0; i < std::min(info.frameCount, file->ImageCount) && check.mismatch.empty();
             ++i) {
            const GifImageDesc& d = file->SavedImages[i].ImageDesc;
            const br::CImgData& image = frames[i]->image;
            const bool empty = d.Width == 0 || d.Height == 0;
            if (empty ? image.width != 0 : (image.width != d.Width || image.height != d.Height)) {
                check.mismatch = "frame " + std::to_string(i) + " size";
                break;
            }
            const std::size_t stride = static_cast<std::size_t>(image.width) + image.rowPadding;
            for (int y = 0; y < image.height && check.mismatch.empty(); ++y) {
                if (std::memcmp(image.colorBits + stride * y,
                                file->SavedImages[i].RasterBits +
                                    static_cast<std::size_t>(y) * d.Width,
                                static_cast<std::size_t>(d.Width)) != 0) {
                    check.mismatch = "frame " + std::to_string(i) + " row " + std::to_string(y);
                }
            }
        }
        for (std::int32_t i = 0; i < info.frameCount; ++i) delete frames[i];
        br::FreeFrameList(frames, info.frameCount);
    }
    DGifCloseFile(file, &error);
    return check;
}

struct Decoder {
    const char* name;
    std::function<bool(const Bytes&)> decode;
};

struct Result {
    std::string path;
    std::size_t bytes = 0;
    int frames = 0;
    double pixels = 0;
    std::vector<double> seconds;  // per decoder, per decode; < 0 when it refused the file
};

double GeometricMean(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) sum += std::log(v);
    return values.empty() ? 0 : std::exp(sum / static_cast<double>(values.size()));
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Memory freed after one decode is kept for the next, as in a process that goes on
    // running: otherwise the C library hands large freed areas back to the system or keeps them
    // depending on the order of earlier allocations, and a decoder that keeps its frames (ours,
    // giflib) pays the page faults of taking them back on some files and not on others. Every
    // decoder runs under the same rule; the first decode of a file still starts from fresh
    // memory. GIF_REAL_RETURN_MEMORY=1 keeps the library's default.
#if defined(M_TRIM_THRESHOLD) && defined(M_MMAP_THRESHOLD)
    const bool returnMemory = std::getenv("GIF_REAL_RETURN_MEMORY") != nullptr;
    if (!returnMemory) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
    }
#else
    const bool returnMemory = true;
#endif
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s CORPUS_ROOT LIST [repeats]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

    std::vector<Decoder> decoders = {{"ours", DecodeOurs}, {"giflib", DecodeGiflib}};
#ifdef BOOTREEL_GIF_PEERS
    decoders.push_back(
        {"wuffs", [](const Bytes& g) { return PeerWuffsDecode(g.data(), g.size()) >= 0; }});
    decoders.push_back(
        {"libnsgif", [](const Bytes& g) { return PeerNsgifDecode(g.data(), g.size()) >= 0; }});
#endif

    if (argc > 4) {
        const auto it = std::find_if(decoders.begin(), decoders.end(),
                                     [&](const Decoder& d) { return d.name == std::string(argv[4]); });
        if (it == decoders.end()) return 2;
        std::ifstream alone(argv[2]);
        std::vector<Bytes> files;
        std::string entry;
        while (std::getline(alone, entry)) {
            std::istringstream fields(entry);
            std::string package, path;
            if (entry.empty() || entry[0] == '#' || !(fields >> package >> path)) continue;
            std::ifstream in(root + "/" + package + path, std::ios::binary);
            if (in) files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        const double start = ThreadSeconds();
        for (int rep = 0; rep < repeats; ++rep) {
            for (const Bytes& gif : files) it->decode(gif);
        }
        std::printf("%s: %zu files x %d in %.3f s\n", it->name, files.size(), repeats,
                    ThreadSeconds() - start);
        return 0;
    }

    std::ifstream list(argv[2]);
    if (!list) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    std::vector<Result> results;
    int listed = 0, missing = 0, refusedByGiflib = 0, refusedByUs = 0, mismatches = 0;
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string package, path;
        if (!(fields >> package >> path)) continue;
        ++listed;
        const std::string file = root + "/" + package + path;
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            ++missing;
            continue;
        }
        const Bytes gif((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Check check = CheckAgainstGiflib(gif);
        if (!check.giflibOk) {
            ++refusedByGiflib;
            continue;
        }
        if (!check.oursOk) {
            std::printf("we refuse a file giflib reads: %s\n", file.c_str());
            ++refusedByUs;
            continue;
        }
        if (!check.mismatch.empty()) {
            std::printf("indices differ from giflib's (%s): %s\n", check.mismatch.c_str(),
                        file.c_str());
            ++mismatches;
        }

        // Decodes per measurement: enough for about 0.2 ms of the slowest decoder seen once.
        double once = 0;
        for (const Decoder& d : decoders) {
            const double start = ThreadSeconds();
            d.decode(gif);
            once = std::max(once, ThreadSeconds() - start);
        }
        const int batch = std::clamp(static_cast<int>(2e-4 / std::max(once, 1e-9)), 1, 1000);

        Result r;
        r.path = package + path;
        r.bytes = gif.size();
        r.frames = check.frames;
        r.pixels = check.pixels;
        r.seconds.assign(decoders.size(), 1e30);
        for (int rep = 0; rep < repeats; ++rep) {
            for (std::size_t k = 0; k < decoders.size(); ++k) {
                if (r.seconds[k] < 0) continue;
                bool ok = true;
                const double start = ThreadSeconds();
                for (int b = 0; b < batch; ++b) ok = decoders[k].decode(gif) && ok;
                const double took = (ThreadSeconds() - start) / batch;
                r.seconds[k] = ok ? std::min(r.seconds[k], took) : -1;
            }
        }
        results.push_back(std::move(r));
    }

    std::printf("between decodes, freed memory %s\n",
                returnMemory ? "is handled by the C library's default"
                             : "is kept by the C library for the next decode");
    std::printf("%d files listed, %d missing, %d refused by giflib (left out), %d refused by us, "
                "%zu timed; indices differ from giflib's in %d files\n",
                listed, missing, refusedByGiflib, refusedByUs, results.size(), mismatches);
    if (results.empty()) return 1;

    std::vector<const Result*> animated, stills;
    for (const Result& r : results) (r.frames > 1 ? animated : stills).push_back(&r);
    std::vector<const Result*> largest = animated;
    std::sort(largest.begin(), largest.end(),
              [](const Result* a, const Result* b) { return a->pixels > b->pixels; });
    if (largest.size() > 20) largest.resize(20);

    // Ratios of one group against decoder k; files that decoder refused are left out.
    auto ratios = [&](const std::vector<const Result*>& group, std::size_t k) {
        std::vector<double> out;
        for (const Result* r : group) {
            if (r->seconds[k] > 0 && r->seconds[0] > 0) out.push_back(r->seconds[k] / r->seconds[0]);
        }
        return out;
    };
    auto describe = [](const std::vector<const Result*>& group) {
        int frames = 0;
        double pixels = 0;
        for (const Result* r : group) {
            frames += r->frames;
            pixels += r->pixels;
        }
        char text[96];
        std::snprintf(text, sizeof text, "%zu files, %d frames, %.1f Mpixel", group.size(), frames,
                      pixels / 1e6);
        return std::string(text);
    };

    std::printf("\nRatio = the other decoder's time / ours (above 1: we are faster); best of %d, "
                "thread CPU time.\n",
                repeats);
    std::printf("%-44s %-9s %9s %9s %6s\n", "group", "against", "geo mean", "median", "files");
    const std::pair<const char*, const std::vector<const Result*>*> groups[] = {
        {"animated", &animated}, {"stills", &stills}, {"the 20 largest animations", &largest}};
    for (const auto& [name, group] : groups) {
        if (group->empty()) continue;
        std::printf("%s: %s\n", name, describe(*group).c_str());
        for (std::size_t k = 1; k < decoders.size(); ++k) {
            const std::vector<double> v = ratios(*group, k);
            std::printf("%-44s %-9s %9.2f %9.2f %6zu\n", "", decoders[k].name, GeometricMean(v),
                        Median(v), v.size());
        }
    }

    std::printf("\nThe 20 largest animations (ratio against each decoder):\n");
    std::printf("%-70s %7s %6s", "file", "frames", "Mpix");
    for (std::size_t k = 1; k < decoders.size(); ++k) std::printf(" %8s", decoders[k].name);
    std::printf("\n");
    for (const Result* r : largest) {
        std::string shown = r->path;
        if (shown.size() > 70) shown = "..." + shown.substr(shown.size() - 67);
        std::printf("%-70s %7d %6.2f", shown.c_str(), r->frames, r->pixels / 1e6);
        for (std::size_t k = 1; k < decoders.size(); ++k) {
            if (r->seconds[k] > 0) {
                std::printf(" %8.2f", r->seconds[k] / r->seconds[0]);
            } else {
                std::printf(" %8s", "refused");
            }
        }
        std::printf("\n");
    }

    std::printf("\n");
    std::printf("real GIFs, animated, decode speed vs giflib (geometric mean): %.2f\n",
                GeometricMean(ratios(animated, 1)));
    for (std::size_t k = 2; k < decoders.size(); ++k) {
        if (std::strcmp(decoders[k].name, "wuffs") == 0) {
            std::printf("real GIFs, animated, decode speed vs wuffs (geometric mean): %.2f\n",
                        GeometricMean(ratios(animated, k)));
            std::printf("real GIFs, stills, decode speed vs wuffs (geometric mean): %.2f\n",
                        GeometricMean(ratios(stills, k)));
            std::printf("real GIFs, 20 largest animations, decode speed vs wuffs (geometric mean): "
                        "%.2f\n",
                        GeometricMean(ratios(largest, k)));
        }
    }
    return mismatches == 0 && refusedByUs == 0 ? 0 : 1;
}
