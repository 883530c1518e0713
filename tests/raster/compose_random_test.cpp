// The optimised compositor against the plain reference on many random cases: every byte of the
// destination, spare row pixels and guard bytes included, must come out the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "compose_reference.h"
#include "raster/compose_paths.h"
#include "raster/compositor.h"
#include "test_image.h"

namespace br::test {
namespace {

constexpr int kCases = 20000;
constexpr std::size_t kGuard = 48;

class Random {
  public:
    explicit Random(std::uint32_t seed) : engine_(seed) {}
    int In(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine_); }
    bool Chance(int percent) { return In(0, 99) < percent; }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(In(0, 255)); }
    // Mostly rectangles that overlap `around` at least in part; some lie outside it, are
    // empty or are inverted.
    Rect AnyRect(const Rect& around) {
        const int w = std::max(around.Width(), 1), h = std::max(around.Height(), 1);
        if (Chance(10)) {
            const int l = In(around.left - 8, around.left + w + 8);
            const int t = In(around.top - 8, around.top + h + 8);
            return Rect(l, t, l + In(-2, w), t + In(-2, h));
        }
        const int l = In(around.left - 3, around.left + w - 1);
        const int t = In(around.top - 3, around.top + h - 1);
        return Rect(l, t, std::max(l, around.left) + In(1, w + 3),
                    std::max(t, around.top) + In(1, h + 3));
    }

  private:
    std::mt19937 engine_;
};

struct Case {
    std::unique_ptr<TestImage> image;
    Rect area;
    std::int32_t rowSkip = 0;
    bool hasClip = false, hasSurface = false, hasOrigin = false, hasLayerClip = false,
         hasCanvas = false;
    Rect clip, layerClip;
    Size surface, canvas;
    Point origin;
    Orientation orientation = 0;

    std::string Describe() const {
        const CImgData& b = image->data;
        std::ostringstream s;
        auto rect = [&s](const Rect& r) {
            s << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
        };
        s << "buffer " << b.width << "x" << b.height << " bpp " << int(b.bytesPerPixel) << " pad "
          << b.rowPadding << (b.maskBits ? " mask" : "") << " key " << b.transparentIndex
          << " area ";
        rect(area);
        s << " skip " << rowSkip << " orientation " << orientation;
        if (hasClip) {
            s << " clip ";
            rect(clip);
        }
        if (hasSurface) s << " surface " << surface.cx << "x" << surface.cy;
        if (hasOrigin) s << " origin " << origin.x << "," << origin.y;
        if (hasLayerClip) {
            s << " layerClip ";
            rect(layerClip);
        }
        if (hasCanvas) s << " canvas " << canvas.cx << "x" << canvas.cy;
        return s.str();
    }
};

Case MakeCase(Random& rnd) {
    Case c;
    // Long rows: shown 1:1 they make long runs of consecutive source columns, and they span
    // more than one strip of columns.
    const bool wide = rnd.Chance(4);
    const bool wideOneToOne = wide && rnd.Chance(50);
    const std::uint8_t bpp =
        wide ? 1 : static_cast<std::uint8_t>(rnd.In(0, 4) < 3 ? 1 : rnd.In(3, 4));
    const int w = wide ? rnd.In(1, wideOneToOne ? 2600 : 700)
                       : (rnd.Chance(90) ? rnd.In(1, 12) : rnd.In(1, 40));
    const int h = wide ? rnd.In(1, 4) : (rnd.Chance(90) ? rnd.In(1, 12) : rnd.In(1, 40));
    c.image =
        std::make_unique<TestImage>(w, h, bpp, rnd.Chance(50), rnd.Chance(20) ? rnd.In(1, 4) : 0);
    TestImage& image = *c.image;

    // Contents from small alphabets, so that keys and repeats hit often, or in runs of one
    // value, so that whole groups of pixels are transparent.
    const bool fewValues = rnd.Chance(70);
    const bool runs = bpp == 1 && rnd.Chance(30);
    int runLeft = 0;
    std::uint8_t runValue = 0;
    std::uint8_t colours[4][4];
    for (auto& colour : colours) {
        for (auto& byte : colour) byte = rnd.Byte();
    }
    for (int r = 0; r < h; ++r) {
        for (int col = 0; col < w; ++col) {
            std::uint8_t* p = image.Pixel(col, r);
            if (runs) {
                if (runLeft-- == 0) {
                    runLeft = rnd.In(0, 100);
                    runValue = static_cast<std::uint8_t>(rnd.In(0, 3));
                }
                *p = runValue;
            } else if (bpp == 1) {
                *p = fewValues ? static_cast<std::uint8_t>(rnd.In(0, 5)) : rnd.Byte();
            } else {
                const int k = rnd.In(0, 3);
                for (int i = 0; i < bpp; ++i) p[i] = fewValues ? colours[k][i] : rnd.Byte();
            }
            if (image.data.maskBits != nullptr) {
                const int pick = rnd.In(0, 2);
                image.SetMask(col, r, pick == 0 ? 0 : pick == 1 ? 255 : rnd.Byte());
            }
        }
    }
    if (bpp == 1) {
        for (int i = 0; i < 256; ++i) image.SetPalette(i, rnd.Byte(), rnd.Byte(), rnd.Byte());
        const int pick = rnd.In(0, 9);
        image.data.transparentIndex = pick < 4    ? -1
                                      : pick < 8  ? rnd.In(0, 5)
                                      : pick == 8 ? rnd.In(0, 255)
                                                  : 0x100 + rnd.In(0, 5);
    } else {
        const int pick = rnd.In(0, 9);
        const std::uint8_t* k = colours[rnd.In(0, 3)];
        image.data.transparentIndex = pick < 3   ? -1
                                      : pick < 8 ? (k[0] << 16 | k[1] << 8 | k[2])
                                                 : rnd.In(0, 0xFFFFFF);
    }

    // Canvas side.
    c.hasCanvas = !wide && rnd.Chance(50);
    c.canvas = Size(rnd.Chance(95) ? w + rnd.In(-3, 12) : rnd.In(-2, 0), h + rnd.In(-3, 12));
    c.hasOrigin = !wide && rnd.Chance(50);
    c.origin = Point(rnd.In(-w / 2 - 2, w / 2 + 2), rnd.In(-h / 2 - 2, h / 2 + 2));
    c.hasLayerClip = !wide && rnd.Chance(40);
    const int cw = c.hasCanvas ? c.canvas.cx : w;
    const int ch = c.hasCanvas ? c.canvas.cy : h;
    c.layerClip = rnd.AnyRect(Rect(0, 0, cw, ch));

    const int pickOrientation = wideOneToOne && rnd.Chance(50) ? 0 : rnd.In(0, 19);
    const Orientation odd[] = {8, -1, 42, INT_MIN};
    c.orientation = pickOrientation < 16 ? pickOrientation % 8 : odd[pickOrientation - 16];
    const bool turned = c.orientation < 0 || c.orientation > 7 || c.orientation % 2 == 1;
    const int sideW = turned ? ch : cw;  // canvas side along the display's width
    const int sideH = turned ? cw : ch;

    // Display side: the same size, twice, half or anything.
    c.hasSurface = wide || rnd.Chance(60);
    const int scale = rnd.In(0, 3);
    if (wideOneToOne) {
        c.surface = Size(sideW, sideH);
    } else if (wide) {
        c.surface = Size(rnd.In(1000, 2600), rnd.In(1, 5));
    } else if (scale == 0) {
        c.surface = Size(std::max(sideW, 1), std::max(sideH, 1));
    } else if (scale == 1) {
        c.surface = Size(2 * std::max(sideW, 1), 2 * std::max(sideH, 1));
    } else if (scale == 2) {
        c.surface = Size(std::max(sideW / 2, 1), std::max(sideH / 2, 1));
    } else {
        c.surface = Size(rnd.In(-1, 50), rnd.In(-1, 50));
    }
    if (wide || rnd.Chance(35)) {
        c.area = c.hasSurface ? Rect(0, 0, std::max(c.surface.cx, 0), std::max(c.surface.cy, 0))
                              : Rect(0, 0, sideW, sideH);
    } else {
        const int extW = c.hasSurface ? c.surface.cx : sideW;
        const int extH = c.hasSurface ? c.surface.cy : sideH;
        c.area = rnd.AnyRect(Rect(0, 0, extW, extH));
    }
    c.rowSkip = rnd.In(0, 4);
    c.hasClip = !wide && rnd.Chance(40);
    c.clip = rnd.AnyRect(c.area);
    return c;
}

// The destination rectangle as documented, worked out independently of both compositors.
Rect DestinationRect(const Case& c) {
    Rect d = c.area;
    if (c.hasSurface) d.Intersect(d, Rect(0, 0, c.surface.cx, c.surface.cy));
    if (c.hasClip && !d.IsEmpty()) d.Intersect(d, c.clip);
    return d;
}

// Runs kCases random cases; the same seed gives the same cases.
void CompareWithTheReference(std::uint32_t seed) {
    Random rnd(seed);
    int failures = 0;
    int drawn = 0;  // cases that changed the destination, so that the comparison means something
    for (int n = 0; n < kCases && failures < 5; ++n) {
        const Case c = MakeCase(rnd);
        const int areaW = std::max(c.area.Width(), 0), areaH = std::max(c.area.Height(), 0);
        const int stride = areaW + c.rowSkip;
        const std::size_t bytes = 3 * static_cast<std::size_t>(stride) * areaH + 2 * kGuard;
        std::vector<std::uint8_t> initial(bytes);
        for (auto& b : initial) b = rnd.Byte();
        std::vector<std::uint8_t> fast = initial, reference = initial;

        const Rect* clip = c.hasClip ? &c.clip : nullptr;
        const Size* surface = c.hasSurface ? &c.surface : nullptr;
        const Point* origin = c.hasOrigin ? &c.origin : nullptr;
        const Rect* layerClip = c.hasLayerClip ? &c.layerClip : nullptr;
        const Size* canvas = c.hasCanvas ? &c.canvas : nullptr;
        ComposeLayer(c.image->data, c.area, fast.data() + kGuard, c.rowSkip, clip, surface,
                     c.orientation, origin, layerClip, canvas);
        ReferenceComposeLayer(c.image->data, c.area, reference.data() + kGuard, c.rowSkip, clip,
                              surface, c.orientation, origin, layerClip, canvas);
        if (fast != reference) {
            ++failures;
            const auto at = std::mismatch(fast.begin(), fast.end(), reference.begin());
            ADD_FAILURE() << "case " << n << ": " << c.Describe() << "\n  first difference at byte "
                          << (at.first - fast.begin()) - static_cast<std::ptrdiff_t>(kGuard);
            continue;
        }

        if (fast != initial) ++drawn;
        // Outside D (spare row pixels and guards included) nothing changed.
        const Rect d = DestinationRect(c);
        for (std::size_t i = 0; i < bytes; ++i) {
            const std::ptrdiff_t offset =
                static_cast<std::ptrdiff_t>(i) - static_cast<std::ptrdiff_t>(kGuard);
            bool inside = false;
            if (!d.IsEmpty() && offset >= 0 &&
                offset < 3 * static_cast<std::ptrdiff_t>(stride) * areaH) {
                const int x = c.area.left + static_cast<int>(offset / 3 % stride);
                const int y = c.area.top + static_cast<int>(offset / 3 / stride);
                inside = x >= d.left && x < d.right && y >= d.top && y < d.bottom;
            }
            if (!inside && fast[i] != initial[i]) {
                ++failures;
                ADD_FAILURE() << "case " << n << ": " << c.Describe()
                              << "\n  wrote outside D at byte " << offset;
                break;
            }
        }
    }
    EXPECT_GT(drawn, kCases / 2);
    std::printf("%d of %d random cases drew something\n", drawn, kCases);
}

TEST(ComposeLayerRandom, MatchesTheReferenceByteForByteAndStaysInsideD) {
    CompareWithTheReference(20240611);
}

// The same cases without the processor-specific path (where this machine has one).
TEST(ComposeLayerRandom, MatchesTheReferenceOnThePortablePathToo) {
    const bool before = detail::EnableWideCompose(false);
    CompareWithTheReference(20240611);
    detail::EnableWideCompose(before);
}

}  // namespace
}  // namespace br::test
