// The layer compositor; see raster/compositor.h.
//
// How the result is defined: the destination rectangle D is walked by rows (orientations 0, 2,
// 4, 6) or by columns (the others); every display point maps to a canvas point by integer
// division, clamped into the visible source V. A display step whose source coordinate equals
// the previous step's is not sampled again but copied from the destination pixel just before
// it (a whole row or column when the outer coordinate repeats). These copies are part of the
// result: with a transparent pixel they repeat what the destination already held.
//
// How it is computed here: every pixel's value depends only on its own old value and on the
// finished pixel to its left or above it, so D can be filled in any order that visits those
// neighbours first. This code always fills row by row, left to right (the fast direction in
// memory), in column strips of at most kStrip pixels. Per strip the display columns are mapped
// to source indices once and kept on the stack, so the inner loops do no division. The common
// case (palette pixels, orientation 0, 1:1) finds the longest run of consecutive source columns
// once per strip and converts it in groups of pixels with wide stores.
#include "raster/compositor.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "raster/compose_paths.h"

// On x86-64 processors with 64-byte byte permutes (AVX-512 VBMI) long 1:1 palette runs are
// converted 64 pixels at a time. The code is compiled for that extension only inside the
// functions that use it and runs only when the processor reports it.
#if defined(__x86_64__) && !defined(_WIN32) && (defined(__GNUC__) || defined(__clang__))
#define BOOTREEL_COMPOSE_WIDE 1
#include <immintrin.h>
#else
#define BOOTREEL_COMPOSE_WIDE 0
#endif

namespace br {
namespace {

using i64 = std::int64_t;

// Display columns handled per strip. The column map lives on the stack (4 bytes a column), so
// this also bounds the stack the compositor takes on the render thread.
constexpr int kStrip = 1024;
// Marks a column map entry as "same source as the previous column": copy from the left.
constexpr std::int32_t kRepeat = -1;

// A rectangle in 64-bit coordinates: origins plus sizes of any 32-bit values neither overflow
// nor wrap here.
struct Box {
    i64 left, top, right, bottom;

    bool Empty() const { return right <= left || bottom <= top; }
    void Clip(i64 l, i64 t, i64 r, i64 b) {
        left = std::max(left, l);
        top = std::max(top, t);
        right = std::min(right, r);
        bottom = std::min(bottom, b);
    }
};

// One display axis and the canvas axis it samples: index = clamp(t * length / extent, or its
// mirror) - origin, a layer row or column.
struct Axis {
    i64 length;  // canvas length along the sampled axis (cw or ch)
    i64 extent;  // display length (extW or extH), at least 1 whenever D is not empty
    bool flip;   // count from the far end of the canvas
    i64 first;   // visible source range, inclusive, in canvas space
    i64 last;
    i64 origin;  // the layer's first column or row in canvas space

    std::int32_t Index(i64 t) const {
        // |t| and length are 32-bit values, so the product fits in 64 bits.
        i64 c = t * length / extent;
        if (flip) c = length - 1 - c;
        if (c < first) {
            c = first;
        } else if (c > last) {
            c = last;
        }
        return static_cast<std::int32_t>(c - origin);
    }
};

inline void Copy3(std::uint8_t* d, const std::uint8_t* s) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
}

// Whether whole groups of pixels can be assembled in 64-bit words and stored in one go; other
// byte orders store pixel by pixel.
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#elif defined(_WIN32)
constexpr bool kLittleEndian = true;
#else
constexpr bool kLittleEndian = false;
#endif

// A destination pixel as the number blue + green * 256 + red * 65536.
inline std::uint32_t Load3(const std::uint8_t* d) {
    return d[0] | static_cast<std::uint32_t>(d[1]) << 8 | static_cast<std::uint32_t>(d[2]) << 16;
}
inline void Store3(std::uint8_t* d, std::uint32_t colour) {
    d[0] = static_cast<std::uint8_t>(colour);
    d[1] = static_cast<std::uint8_t>(colour >> 8);
    d[2] = static_cast<std::uint8_t>(colour >> 16);
}
// Eight consecutive pixels (24 bytes): three 8-byte stores instead of eight 3-byte ones.
inline void Store8(std::uint8_t* d, const std::uint32_t* c) {
    if (kLittleEndian) {
        const std::uint64_t w0 = c[0] | std::uint64_t{c[1]} << 24 | std::uint64_t{c[2]} << 48;
        const std::uint64_t w1 = c[2] >> 16 | std::uint64_t{c[3]} << 8 | std::uint64_t{c[4]} << 32 |
                                 std::uint64_t{c[5]} << 56;
        const std::uint64_t w2 = c[5] >> 8 | std::uint64_t{c[6]} << 16 | std::uint64_t{c[7]} << 40;
        std::memcpy(d, &w0, 8);
        std::memcpy(d + 8, &w1, 8);
        std::memcpy(d + 16, &w2, 8);
    } else {
        for (int k = 0; k < 8; ++k) Store3(d + 3 * k, c[k]);
    }
}

// The palette as destination pixel numbers (see Load3), converted once per call, and for the
// wide path as three planes of 256 bytes.
struct PackedPalette {
    std::uint32_t colour[256];
    alignas(64) std::uint8_t planes[3][256];  // blue, green, red
    bool wide;                                // planes filled, the wide path may run

    void Fill(const PaletteRecord& palette, bool withPlanes) {
        for (int i = 0; i < 256; ++i) {
            const PaletteEntry& e = palette.entries[i];
            colour[i] = e.blue | static_cast<std::uint32_t>(e.green) << 8 |
                        static_cast<std::uint32_t>(e.red) << 16;
        }
        wide = withPlanes;
        if (!withPlanes) return;
        for (int i = 0; i < 256; ++i) {
            planes[0][i] = palette.entries[i].blue;
            planes[1][i] = palette.entries[i].green;
            planes[2][i] = palette.entries[i].red;
        }
    }
};

// Palette pixels d[0..n) from s[0..n), one by one; transparent ones stay.
void PalettePixels(std::uint8_t* d, const std::uint8_t* s, int n, const PackedPalette& pal,
                   int key) {
    for (int i = 0; i < n; ++i) {
        if (s[i] != key) Store3(d + 3 * i, pal.colour[s[i]]);
    }
}

#if BOOTREEL_COMPOSE_WIDE
// Byte selectors that interleave 64 blue, 64 green and 64 red bytes into 192 bytes of pixels,
// in two permutes per 64 output bytes: first blue and green (red's places hold anything), then
// red into its places.
struct InterleaveTables {
    alignas(64) std::uint8_t blueGreen[3][64];
    alignas(64) std::uint8_t red[3][64];
};
constexpr InterleaveTables MakeInterleaveTables() {
    InterleaveTables t{};
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 64; ++j) {
            const int out = 64 * k + j, pixel = out / 3, channel = out % 3;
            // Selector bit 6 picks the second operand.
            t.blueGreen[k][j] = static_cast<std::uint8_t>(channel == 0   ? pixel
                                                          : channel == 1 ? 64 + pixel
                                                                         : 0);
            t.red[k][j] = static_cast<std::uint8_t>(channel == 2 ? 64 + pixel : j);
        }
    }
    return t;
}
constexpr InterleaveTables kInterleave = MakeInterleaveTables();

bool WideSupported() {
    static const bool supported =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi2");
    return supported;
}

#define BOOTREEL_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi,bmi2")))

// Each bit of the low 22 bits of `pixels` repeated three times: a byte mask from a pixel mask.
BOOTREEL_WIDE_TARGET inline std::uint64_t Triple(std::uint64_t pixels) {
    constexpr std::uint64_t kEvery3 = 0x9249249249249249u;  // bits 0, 3, ..., 63
    return _pdep_u64(pixels, kEvery3) | _pdep_u64(pixels, kEvery3 << 1) |
           _pdep_u64(pixels, kEvery3 << 2);
}

// 1:1 palette pixels d[0..n) from s[0..n), 64 at a time; the last group is partial. Pixels
// equal to `key` (when not -1) are masked out of the stores, so they stay.
BOOTREEL_WIDE_TARGET void PaletteRunWide(std::uint8_t* d, const std::uint8_t* s, int n,
                                         const PackedPalette& pal, int key) {
    __m512i table[3][4];
    for (int c = 0; c < 3; ++c) {
        for (int q = 0; q < 4; ++q) table[c][q] = _mm512_load_si512(pal.planes[c] + 64 * q);
    }
    __m512i blueGreen[3], red[3];
    for (int k = 0; k < 3; ++k) {
        blueGreen[k] = _mm512_load_si512(kInterleave.blueGreen[k]);
        red[k] = _mm512_load_si512(kInterleave.red[k]);
    }
    const __m512i keys = _mm512_set1_epi8(static_cast<char>(key));
    for (int i = 0; i < n; i += 64) {
        // Masked loads and stores touch no byte outside the run, even in the last group.
        const int count = std::min(64, n - i);
        const __mmask64 valid = count == 64 ? ~__mmask64{0} : (__mmask64{1} << count) - 1;
        const __m512i index = _mm512_maskz_loadu_epi8(valid, s + i);
        __mmask64 write = valid;
        if (key >= 0) write &= ~_mm512_cmpeq_epi8_mask(index, keys);
        if (write == 0) continue;

        // Each plane looks up 128-byte halves by the low 7 bits; bit 7 chooses the half.
        const __mmask64 upper = _mm512_movepi8_mask(index);
        __m512i plane[3];
        for (int c = 0; c < 3; ++c) {
            plane[c] = _mm512_mask_blend_epi8(
                upper, _mm512_permutex2var_epi8(table[c][0], index, table[c][1]),
                _mm512_permutex2var_epi8(table[c][2], index, table[c][3]));
        }
        __m512i out[3];
        for (int k = 0; k < 3; ++k) {
            const __m512i bg = _mm512_permutex2var_epi8(plane[0], blueGreen[k], plane[1]);
            out[k] = _mm512_permutex2var_epi8(bg, red[k], plane[2]);
        }
        std::uint8_t* o = d + 3 * i;
        if (write == ~__mmask64{0}) {
            for (int k = 0; k < 3; ++k) _mm512_storeu_si512(o + 64 * k, out[k]);
            continue;
        }
        // Byte masks of the three output vectors: output byte 64k + j belongs to pixel
        // (64k + j) / 3, and 64 = 3 * 21 + 1, 128 = 3 * 42 + 2.
        const std::uint64_t w = write;
        const std::uint64_t bytes0 = Triple(w);
        const std::uint64_t bytes1 = Triple(w >> 21) >> 1 | ((w >> 42) & 1) << 63;
        const std::uint64_t bytes2 =
            Triple(w >> 42) >> 2 | ((w >> 63) & 1) * (std::uint64_t{3} << 62);
        _mm512_mask_storeu_epi8(o, bytes0, out[0]);
        _mm512_mask_storeu_epi8(o + 64, bytes1, out[1]);
        _mm512_mask_storeu_epi8(o + 128, bytes2, out[2]);
    }
}
#endif

// Whether the wide path may be used (tests switch it off to check the portable path).
std::atomic<bool> wideEnabled{true};

bool UseWide() {
#if BOOTREEL_COMPOSE_WIDE
    return wideEnabled.load(std::memory_order_relaxed) && WideSupported();
#else
    return false;
#endif
}

// The pixel rule for colour pixels (3 or more bytes, blue-green-red first).
struct ColourRule {
    std::int32_t transparentIndex;
    bool masked;
    std::uint8_t keyBlue, keyGreen, keyRed;

    explicit ColourRule(const CImgData& b)
        : transparentIndex(b.transparentIndex),
          masked(b.maskBits != nullptr),
          keyBlue(static_cast<std::uint8_t>((b.transparentIndex >> 16) & 0xFF)),
          keyGreen(static_cast<std::uint8_t>((b.transparentIndex >> 8) & 0xFF)),
          keyRed(static_cast<std::uint8_t>(b.transparentIndex & 0xFF)) {}

    // `m` is the mask byte of the same layer pixel (read only when a mask is present).
    void Apply(std::uint8_t* d, const std::uint8_t* p, const std::uint8_t* m) const {
        if (transparentIndex == -1) {
            Copy3(d, p);
        } else if (masked) {
            const unsigned a = *m;
            if (a == 0) return;
            for (int i = 0; i < 3; ++i)
                d[i] = static_cast<std::uint8_t>(((255u - a) * d[i] + a * p[i]) / 255u);
        } else if (!(p[0] == keyBlue && p[1] == keyGreen && p[2] == keyRed)) {
            Copy3(d, p);
        }
    }
};

// Everything a strip needs to know about the call, fixed once per call.
struct Job {
    const CImgData* buffer;
    bool byRows;
    Axis xAxis;               // display columns: source columns by rows, source rows by columns
    Axis yAxis;               // display rows: source rows by rows, source columns by columns
    Box d;                    // destination rectangle
    std::uint8_t* dTopLeft;   // destination pixel of (d.left, d.top)
    std::ptrdiff_t rowBytes;  // destination row length R
    std::ptrdiff_t colorRow;  // colour plane row length
    std::ptrdiff_t maskRow;   // mask plane row length
};

// Palette pixels of one destination row, by rows: display columns [from, to) of a strip that
// ends at `stripEnd`, each sampling src[map[i]] or repeating the pixel to its left (kRepeat).
// `key` is the transparent index, or -1.
//
// Without a key every pixel gets written, so on little-endian machines all but the strip's
// last pixel are written with a 4-byte store whose spare byte the next pixel then overwrites.
void PaletteMapped(std::uint8_t* row, const std::uint8_t* src, const std::int32_t* map, int from,
                   int to, int stripEnd, const PackedPalette& pal, int key) {
    int i = from;
    if (key < 0 && kLittleEndian) {
        for (const int wide = std::min(to, stripEnd - 1); i < wide; ++i) {
            std::uint8_t* d = row + 3 * i;
            const std::int32_t c = map[i];
            std::uint32_t colour;
            if (c == kRepeat) {
                std::memcpy(&colour, d - 3, 4);  // its 4th byte is d[0], put back unchanged
            } else {
                colour = pal.colour[src[c]];
            }
            std::memcpy(d, &colour, 4);
        }
    }
    for (; i < to; ++i) {
        std::uint8_t* d = row + 3 * i;
        const std::int32_t c = map[i];
        if (c == kRepeat) {
            Copy3(d, d - 3);
        } else if (src[c] != key) {
            Store3(d, pal.colour[src[c]]);
        }
    }
}

// Palette pixels d[0..n) from consecutive source indices s[0..n): the 1:1 case. The wide path
// takes the whole run when it may; otherwise groups of eight are stored as three 8-byte words,
// and a group that holds the transparent index (found with one 8-byte test) goes pixel by pixel.
void PaletteRun(std::uint8_t* d, const std::uint8_t* s, int n, const PackedPalette& pal, int key) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    const std::uint64_t keys = key >= 0 ? kOnes * static_cast<std::uint64_t>(key) : 0;
    int i = 0;
#if BOOTREEL_COMPOSE_WIDE
    if (pal.wide && n >= 16) {
        PaletteRunWide(d, s, n, pal, key);
        return;
    }
#endif
    for (; i + 8 <= n; i += 8) {
        if (key >= 0) {
            std::uint64_t v;
            std::memcpy(&v, s + i, 8);
            v ^= keys;  // a byte equal to the key becomes 0
            if (((v - kOnes) & ~v & (kOnes << 7)) != 0) {
                PalettePixels(d + 3 * i, s + i, 8, pal, key);
                continue;
            }
        }
        const std::uint32_t c[8] = {
            pal.colour[s[i]],     pal.colour[s[i + 1]], pal.colour[s[i + 2]], pal.colour[s[i + 3]],
            pal.colour[s[i + 4]], pal.colour[s[i + 5]], pal.colour[s[i + 6]], pal.colour[s[i + 7]]};
        Store8(d + 3 * i, c);
    }
    PalettePixels(d + 3 * i, s + i, n - i, pal, key);
}

// One strip of display columns [x0, x0 + n).
void ComposeStrip(const Job& job, i64 x0, int n, std::int32_t* map, const PackedPalette* pal) {
    const CImgData& b = *job.buffer;
    const int bpp = b.bytesPerPixel;

    // Column map. The first column of D never repeats; a later strip continues from the
    // column before it.
    std::int32_t prev = x0 > job.d.left ? job.xAxis.Index(x0 - 1) : kRepeat;
    for (int i = 0; i < n; ++i) {
        const std::int32_t index = job.xAxis.Index(x0 + i);
        map[i] = index == prev ? kRepeat : index;
        prev = index;
    }

    // The longest stretch of consecutive source columns, for the plain copy loop. Only the
    // palette path by rows uses it.
    int runFrom = 0, runTo = 0;
    if (pal != nullptr && job.byRows) {
        for (int i = 0; i < n;) {
            if (map[i] == kRepeat) {
                ++i;
                continue;
            }
            int j = i + 1;
            while (j < n && map[j] == map[j - 1] + 1) ++j;
            if (j - i > runTo - runFrom) {
                runFrom = i;
                runTo = j;
            }
            i = j;
        }
    }

    const int key = (pal != nullptr && b.transparentIndex != -1) ? (b.transparentIndex & 0xFF) : -1;
    const ColourRule colour(b);
    std::uint8_t* row = job.dTopLeft + (x0 - job.d.left) * 3;
    std::int32_t prevY = kRepeat;
    for (i64 y = job.d.top; y < job.d.bottom; ++y, row += job.rowBytes) {
        const std::int32_t yIndex = job.yAxis.Index(y);
        const bool yRepeat = yIndex == prevY;
        prevY = yIndex;

        if (job.byRows) {
            if (yRepeat) {  // the same source row as the row above: block copy
                std::memcpy(row, row - job.rowBytes, static_cast<std::size_t>(n) * 3);
                continue;
            }
            const std::uint8_t* src = b.colorBits + yIndex * job.colorRow;
            if (pal != nullptr) {
                PaletteMapped(row, src, map, 0, runFrom, n, *pal, key);
                if (runTo > runFrom) {
                    PaletteRun(row + 3 * runFrom, src + map[runFrom], runTo - runFrom, *pal, key);
                }
                PaletteMapped(row, src, map, runTo, n, n, *pal, key);
            } else {
                const std::uint8_t* mask =
                    b.maskBits != nullptr ? b.maskBits + yIndex * job.maskRow : nullptr;
                for (int i = 0; i < n; ++i) {
                    std::uint8_t* p = row + 3 * i;
                    const std::int32_t c = map[i];
                    if (c == kRepeat) {
                        Copy3(p, p - 3);
                    } else {
                        colour.Apply(p, src + static_cast<std::ptrdiff_t>(c) * bpp,
                                     mask != nullptr ? mask + c : nullptr);
                    }
                }
            }
        } else {
            // By columns: map holds source rows, yIndex is the source column. A repeated
            // column copies from the left before a repeated row copies from above.
            for (int i = 0; i < n; ++i) {
                std::uint8_t* p = row + 3 * i;
                const std::int32_t r = map[i];
                if (r == kRepeat) {
                    Copy3(p, p - 3);
                } else if (yRepeat) {
                    Copy3(p, p - job.rowBytes);
                } else if (pal != nullptr) {
                    const std::uint8_t s = b.colorBits[r * job.colorRow + yIndex];
                    if (s != key) Store3(p, pal->colour[s]);
                } else {
                    colour.Apply(
                        p, b.colorBits + r * job.colorRow + static_cast<i64>(yIndex) * bpp,
                        b.maskBits != nullptr ? b.maskBits + r * job.maskRow + yIndex : nullptr);
                }
            }
        }
    }
}

}  // namespace

namespace detail {
bool EnableWideCompose(bool enable) {
    return wideEnabled.exchange(enable);
}
}  // namespace detail

void ComposeLayer(const CImgData& buffer, const Rect& area, std::uint8_t* pixels,
                  std::int32_t rowSkip, const Rect* clip, const Size* surfaceSize,
                  Orientation orientation, const Point* layerOrigin, const Rect* layerClip,
                  const Size* canvasSize) {
    // Nothing to draw, or nothing that can be read safely: 0 and 2 bytes per pixel have no
    // colour layout to read, and palette pixels need their palette.
    if (buffer.width <= 0 || buffer.height <= 0 || buffer.colorBitmap == nullptr) return;
    if (buffer.colorBits == nullptr || pixels == nullptr) return;
    const int bpp = buffer.bytesPerPixel;
    if (bpp == 0 || bpp == 2 || (bpp == 1 && buffer.palette == nullptr)) return;

    // Destination rectangle D in display space.
    const i64 areaW = static_cast<i64>(area.right) - area.left;
    const i64 areaH = static_cast<i64>(area.bottom) - area.top;
    const i64 extW = surfaceSize != nullptr ? surfaceSize->cx : areaW;
    const i64 extH = surfaceSize != nullptr ? surfaceSize->cy : areaH;
    Box d{area.left, area.top, area.right, area.bottom};
    if (surfaceSize != nullptr) d.Clip(0, 0, extW, extH);
    if (clip != nullptr) d.Clip(clip->left, clip->top, clip->right, clip->bottom);
    if (d.Empty()) return;

    // Visible source rectangle V in canvas space, inside the layer L.
    const i64 cw = canvasSize != nullptr ? canvasSize->cx : buffer.width;
    const i64 ch = canvasSize != nullptr ? canvasSize->cy : buffer.height;
    const i64 ox = layerOrigin != nullptr ? layerOrigin->x : 0;
    const i64 oy = layerOrigin != nullptr ? layerOrigin->y : 0;
    Box v{ox, oy, ox + buffer.width, oy + buffer.height};
    if (canvasSize != nullptr) v.Clip(0, 0, cw, ch);
    if (layerClip != nullptr)
        v.Clip(layerClip->left, layerClip->top, layerClip->right, layerClip->bottom);
    if (v.Empty()) return;

    // Odd orientations (and any value outside 0..7, drawn as 7) run by columns.
    const int o = (orientation >= 0 && orientation <= 7) ? orientation : 7;
    const bool byRows = o % 2 == 0;
    const bool flipU = o == 2 || o == 3 || o == 4 || o == 7;
    const bool flipV = o == 1 || o == 2 || o == 6 || o == 7;
    const Axis u{cw, 0, flipU, v.left, v.right - 1, ox};
    const Axis w{ch, 0, flipV, v.top, v.bottom - 1, oy};

    Job job;
    job.buffer = &buffer;
    job.byRows = byRows;
    job.xAxis = byRows ? u : w;
    job.yAxis = byRows ? w : u;
    job.xAxis.extent = extW;
    job.yAxis.extent = extH;
    job.d = d;
    job.rowBytes = static_cast<std::ptrdiff_t>(3 * (areaW + rowSkip));
    job.dTopLeft = pixels + (d.top - area.top) * job.rowBytes + (d.left - area.left) * 3;
    job.colorRow = static_cast<std::ptrdiff_t>(bpp) * buffer.width + buffer.rowPadding;
    job.maskRow = (static_cast<std::ptrdiff_t>(buffer.width) + 3) & ~static_cast<std::ptrdiff_t>(3);

    // Only palette frames need the packed palette (1 KiB of stack, filled once per call).
    PackedPalette packed;
    const PackedPalette* pal = nullptr;
    if (bpp == 1) {
        packed.Fill(*buffer.palette, UseWide());
        pal = &packed;
    }

    std::int32_t map[kStrip];
    for (i64 x0 = d.left; x0 < d.right; x0 += kStrip) {
        const int n = static_cast<int>(std::min<i64>(kStrip, d.right - x0));
        ComposeStrip(job, x0, n, map, pal);
    }
}

}  // namespace br
