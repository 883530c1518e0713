// The pictures of the reliability runs: GIFs written with giflib's encoder, so that their LZW
// data is what a common encoder produces, and the project's own GIF files read from folders.
#include <gif_lib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "show_runs.h"

namespace reliability {

namespace {

struct FrameSpec {
    FrameSpec(int l, int t, int w, int h, int localColours = 0, bool interlace = false,
              bool withControl = true, int dispose = 0, std::uint16_t delay = 5,
              int transparentIndex = -1, int fill = 0)
        : left(l), top(t), width(w), height(h), colours(localColours), interlaced(interlace),
          control(withControl), disposal(dispose), delayCs(delay), transparent(transparentIndex),
          pattern(fill) {}
    int left, top, width, height;
    int colours = 0;          // a local table of this many entries (power of two), 0: none
    bool interlaced = false;
    bool control = true;      // a graphic control extension before the frame
    int disposal = 0;
    std::uint16_t delayCs = 5;
    int transparent = -1;
    int pattern = 0;          // 0 noise, 1 stripes, 2 flat
};

struct PictureSpec {
    PictureSpec(int w, int h, int colours = 16) : width(w), height(h), globalColours(colours) {}
    int width, height;
    int globalColours;  // 0: no global table
    bool gif89 = true;
    std::vector<FrameSpec> frames;
    std::uint32_t seed = 1;
};

int WriteBytes(GifFileType* gif, const GifByteType* bytes, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + length);
    return length;
}

ColorMapObject* MakeTable(int count, std::uint32_t seed) {
    std::vector<GifColorType> colours(count);
    std::mt19937 random(seed);
    for (auto& c : colours) {
        c.Red = static_cast<GifByteType>(random());
        c.Green = static_cast<GifByteType>(random());
        c.Blue = static_cast<GifByteType>(random());
    }
    return GifMakeMapObject(count, colours.data());
}

void Check(int result, const char* what) {
    if (result != GIF_OK) throw std::runtime_error(std::string("giflib: ") + what);
}

std::vector<std::uint8_t> Encode(const PictureSpec& spec) {
    std::vector<std::uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteBytes, &error);
    if (gif == nullptr) throw std::runtime_error("giflib: open");
    EGifSetGifVersion(gif, spec.gif89);
    ColorMapObject* global = spec.globalColours > 0 ? MakeTable(spec.globalColours, spec.seed)
                                                    : nullptr;
    Check(EGifPutScreenDesc(gif, spec.width, spec.height, 8, 0, global), "screen");
    GifFreeMapObject(global);
    std::mt19937 random(spec.seed);
    for (const FrameSpec& f : spec.frames) {
        if (f.control) {
            GifByteType control[4] = {
                static_cast<GifByteType>((f.disposal & 7) << 2 | (f.transparent >= 0 ? 1 : 0)),
                static_cast<GifByteType>(f.delayCs & 0xFF),
                static_cast<GifByteType>(f.delayCs >> 8),
                static_cast<GifByteType>(f.transparent >= 0 ? f.transparent : 0)};
            Check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control), "control");
        }
        ColorMapObject* local = f.colours > 0 ? MakeTable(f.colours, random()) : nullptr;
        Check(EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlaced, local),
              "image");
        GifFreeMapObject(local);
        const int colours = f.colours > 0 ? f.colours : std::max(2, spec.globalColours);
        std::vector<GifPixelType> row(f.width);
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
                int value = 0;
                if (f.pattern == 0) value = static_cast<int>(random() % colours);
                if (f.pattern == 1) value = ((x / 3) + (y / 2)) % colours;
                if (f.pattern == 2) value = (x < f.width / 2) ? 1 : f.transparent >= 0 ? f.transparent : 2;
                row[x] = static_cast<GifPixelType>(value % colours);
            }
            Check(EGifPutLine(gif, row.data(), f.width), "line");
        }
    }
    Check(EGifCloseFile(gif, &error), "close");
    return out;
}

}  // namespace

std::vector<std::uint8_t> ShortAnimation(int width, int height, int frames, std::uint16_t delayCs,
                                         std::uint32_t seed) {
    PictureSpec spec(width, height);
    spec.seed = seed;
    for (int i = 0; i < frames; ++i) {
        FrameSpec f(0, 0, width, height);
        if (i > 0) {  // later frames change a part, in turn with each disposal
            f.left = width / 4;
            f.top = height / 4;
            f.width = width / 2;
            f.height = height / 2;
            f.disposal = i % 4;
            f.transparent = i % 2 == 0 ? 3 : -1;
        }
        f.delayCs = delayCs;
        f.pattern = i % 3;
        spec.frames.push_back(f);
    }
    return Encode(spec);
}

std::vector<CorpusFile> GeneratedCorpus() {
    std::vector<CorpusFile> corpus;
    auto add = [&corpus](const char* name, const PictureSpec& spec) {
        corpus.push_back({name, Encode(spec)});
    };
    {  // Two colours (smallest code size), whole-picture frames, every disposal.
        PictureSpec s(16, 12, 2);
        for (int d = 0; d < 4; ++d) s.frames.push_back(FrameSpec(0, 0, 16, 12, 0, false, true, d, 3));
        add("generated:two-colours", s);
    }
    {  // Interlaced frames with local tables of 64 entries, a frame partly off the screen.
        PictureSpec s(32, 24, 0);
        s.seed = 2;
        s.frames.push_back(FrameSpec(0, 0, 32, 24, 64, true, true, 1, 4));
        s.frames.push_back(FrameSpec(20, 10, 24, 20, 64, true, true, 2, 4, 5));
        s.frames.push_back(FrameSpec(0, 0, 8, 8, 4, false, true, 0, 4, 1, 2));
        add("generated:interlaced-local-tables", s);
    }
    {  // 256 colours of noise: the code table fills and is cleared.
        PictureSpec s(48, 40, 256);
        s.seed = 3;
        s.frames.push_back(FrameSpec(0, 0, 48, 40, 0, false, true, 0, 10));
        s.frames.push_back(FrameSpec(4, 4, 40, 32, 0, false, true, 3, 10, 7));
        add("generated:256-colours", s);
    }
    {  // Transparency over earlier frames, restore-to-previous, no control extension on one.
        PictureSpec s(20, 20, 8);
        s.seed = 4;
        s.frames.push_back(FrameSpec(0, 0, 20, 20, 0, false, true, 1, 2, -1, 1));
        s.frames.push_back(FrameSpec(5, 5, 10, 10, 0, false, true, 3, 2, 2, 2));
        s.frames.push_back(FrameSpec(0, 10, 20, 10, 0, false, false, 0, 0, -1, 1));
        s.frames.push_back(FrameSpec(10, 0, 10, 20, 0, false, true, 2, 0, 0, 2));
        add("generated:transparency-and-disposal", s);
    }
    {  // Many short frames with delay 0.
        PictureSpec s(8, 8, 4);
        s.seed = 5;
        for (int i = 0; i < 24; ++i) s.frames.push_back(FrameSpec(0, 0, 8, 8, 0, false, true, 1, 0));
        add("generated:many-zero-delays", s);
    }
    {  // One frame, GIF87a.
        PictureSpec s(24, 16, 16);
        s.gif89 = false;
        s.frames.push_back(FrameSpec(0, 0, 24, 16, 0, false, false, 0, 0, -1, 1));
        add("generated:gif87a-one-frame", s);
    }
    return corpus;
}

std::vector<CorpusFile> ReadCorpusFolder(const std::string& folder) {
    std::vector<CorpusFile> corpus;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file()) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        // The fuzz seed corpus names its files freely; anything else counts only as .gif.
        const bool seedCorpus = folder.find("corpus") != std::string::npos;
        if (!seedCorpus && path.extension() != ".gif") continue;
        std::ifstream file(path, std::ios::binary);
        corpus.push_back({path.filename().string(),
                          std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {})});
    }
    return corpus;
}

}  // namespace reliability
