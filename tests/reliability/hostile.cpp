// Hostile resources: pictures of at most 64 KB that declare frames far larger than memory,
// thousands of frames, or data that expands to millions of pixels. Each is loaded by the player
// on a device with a 240 x 320 screen and 32 MB of bitmap memory; the run reports per picture
// how long the load took, what it gave (the decode scale, or a failure), the bitmap memory the
// frames kept and the process's peak resident memory so far. A load that takes more than 2 s,
// or frames that keep more than the device's memory, count as failures.
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "player/animation_player.h"
#include "platform/platform.h"
#include "platform/sim/device.h"
#include "show_runs.h"

namespace reliability {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kDeviceBitmapMemory = 32u << 20;
constexpr double kLoadSecondsAllowed = 2.0;
constexpr std::size_t kMaxFileBytes = 64u << 10;

void Put16(Bytes& out, int value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

Bytes Header(int width, int height) {
    // Room is made first: GCC 12 on 32-bit ARM warns of a write past the initial six bytes
    // when the vector grows from an initializer list here (a false array-bounds warning).
    Bytes out;
    out.reserve(32);
    out.insert(out.end(), {'G', 'I', 'F', '8', '9', 'a'});
    Put16(out, width);
    Put16(out, height);
    out.insert(out.end(), {0x81, 0, 0});  // global table of 4 colours
    out.insert(out.end(), {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255});
    return out;
}

// LZW codes (minimum code size 2) packed into sub-blocks, with the block terminator.
Bytes Packed(const std::vector<int>& codes) {
    Bytes data;
    std::uint32_t bits = 0;
    int count = 0;
    int width = 3;
    int next = 6;
    for (int code : codes) {
        bits |= static_cast<std::uint32_t>(code) << count;
        count += width;
        while (count >= 8) {
            data.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
        if (code == 4) {
            width = 3;
            next = 6;
        } else if (next < 4096) {
            ++next;
            if (next > (1 << width) && width < 12) ++width;
        }
    }
    if (count > 0) data.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    Bytes out;
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
    return out;
}

// One frame: descriptor at (0, 0) of the given size and its data.
void Frame(Bytes& out, int width, int height, bool interlaced, const Bytes& data) {
    out.push_back(0x2C);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, width);
    Put16(out, height);
    out.push_back(interlaced ? 0x40 : 0);
    out.push_back(2);
    out.insert(out.end(), data.begin(), data.end());
}

// Frames of the given size, each holding one pixel, until `frames` or 64 KB.
Bytes ManyFrames(int screenWidth, int screenHeight, int width, int height, int frames,
                 bool interlaced) {
    Bytes out = Header(screenWidth, screenHeight);
    const Bytes pixel = Packed({4, 1, 5});
    for (int i = 0; i < frames; ++i) {
        Bytes next = out;
        Frame(next, width, height, interlaced, pixel);
        if (next.size() + 1 > kMaxFileBytes) break;
        out = std::move(next);
    }
    out.push_back(0x3B);
    return out;
}

// One frame whose data expands as far as LZW allows: each code names the string of the code
// before it plus one more byte, so the strings grow to 4096 pixels; about 64 KB of it.
Bytes ExpandingFrame(int screenWidth, int screenHeight, int width, int height) {
    std::vector<int> codes;
    while (codes.size() * 12 / 8 < kMaxFileBytes - 2048) {
        codes.push_back(4);
        codes.push_back(1);
        for (int code = 6; code < 4096; ++code) codes.push_back(code);
    }
    codes.push_back(5);
    Bytes out = Header(screenWidth, screenHeight);
    Frame(out, width, height, false, Packed(codes));
    out.push_back(0x3B);
    return out;
}

struct Hostile {
    const char* name;
    Bytes bytes;
};

std::vector<Hostile> HostilePictures() {
    return {
        {"2 frames of 65535x65535 on a 240x320 picture", ManyFrames(240, 320, 65535, 65535, 2,
                                                                    false)},
        {"200 frames of 65535x65535 on a 65535x65535 picture",
         ManyFrames(65535, 65535, 65535, 65535, 200, false)},
        {"200 frames of 65535x65535 on a 240x320 picture",
         ManyFrames(240, 320, 65535, 65535, 200, false)},
        {"200 interlaced frames of 65535x65535 on a 240x320 picture",
         ManyFrames(240, 320, 65535, 65535, 200, true)},
        {"64 KB of 240x320 frames", ManyFrames(240, 320, 240, 320, 1 << 20, false)},
        {"64 KB of interlaced 65535x65535 frames on a 240x320 picture",
         ManyFrames(240, 320, 65535, 65535, 1 << 20, true)},
        {"64 KB of 65535x65535 frames on a 65535x65535 picture",
         ManyFrames(65535, 65535, 65535, 65535, 1 << 20, false)},
        {"64 KB of expanding data in a 65535x320 frame on a 240x320 picture",
         ExpandingFrame(240, 320, 65535, 320)},
        {"64 KB of expanding data in a 65535x65535 picture",
         ExpandingFrame(65535, 65535, 65535, 65535)},
        {"64 KB of expanding data in a 4096x4096 picture", ExpandingFrame(4096, 4096, 4096, 4096)},
    };
}

long PeakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string HostileFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/bootreel-hostile-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    return pattern;
}

}  // namespace

RunSummary RunHostile() {
    RunSummary summary;
    summary.name = "hostile";
    const std::string root = HostileFolder();
    for (const Hostile& picture : HostilePictures()) {
        plat::sim::DeviceConfig config;
        config.screenWidth = 240;
        config.screenHeight = 320;
        config.deviceRoot = root;
        plat::sim::Reset(config);
        plat::sim::SetBitmapMemoryLimit(kDeviceBitmapMemory);
        {
            std::ofstream file(root + "/hostile.gif", std::ios::binary);
            file.write(reinterpret_cast<const char*>(picture.bytes.data()),
                       static_cast<std::streamsize>(picture.bytes.size()));
        }
        plat::WNDCLASS windowClass{};
        windowClass.lpfnWndProc = plat::DefWindowProc;
        windowClass.lpszClassName = u"Hostile";
        plat::RegisterClass(&windowClass);
        plat::HWND window = plat::CreateWindowEx(0, u"Hostile", u"", 0, 0, 0, 240, 320, nullptr,
                                                 nullptr, nullptr, nullptr);

        br::AnimationPlayer player;
        player.AttachWindow(window);
        const auto started = std::chrono::steady_clock::now();
        const bool loaded = player.Load(u"\\hostile.gif");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const std::size_t kept = plat::sim::Live().bitmapBytes;
        const double scale = player.decodeScale;
        player.Destroy();
        plat::DestroyWindow(window);
        plat::UnregisterClass(u"Hostile", nullptr);

        ++summary.shows;
        char line[512];
        std::snprintf(line, sizeof line,
                      "%s (%zu bytes): %s in %.3f s, frames keep %zu bytes, peak resident %ld KB",
                      picture.name, picture.bytes.size(),
                      loaded ? ("loaded at " + std::to_string(scale)).c_str()
                             : "failed",
                      seconds, kept, PeakResidentKb());
        std::printf("  %s\n", line);
        if (seconds > kLoadSecondsAllowed || kept > kDeviceBitmapMemory) summary.Fail(line);
        summary.Count(loaded ? "loaded" : "failed");
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    plat::sim::SetBitmapMemoryLimit(0);
    return summary;
}

}  // namespace reliability
