// Contact sheet and bitmap font; see contact_sheet.h.
#include "preview/contact_sheet.h"

#include <algorithm>
#include <cmath>

namespace preview {
namespace {

// 5x7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
    char c;
    std::uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}},
    {'b', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}},
    {'c', {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E}},
    {'d', {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
    {'f', {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}},
    {'g', {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'h', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}},
    {'j', {0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C}},
    {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}},
    {'l', {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}},
    {'p', {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}},
    {'q', {0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01}},
    {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}},
    {'s', {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}},
    {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}},
    {'u', {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D}},
    {'v', {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'w', {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A}},
    {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}},
    {'y', {0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'z', {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
};
constexpr std::uint8_t kUnknown[7] = {0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F};

const std::uint8_t* GlyphRows(char c) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const Glyph& g : kFont) {
        if (g.c == c) return g.rows;
    }
    return kUnknown;
}

void Fill(RgbImage* image, int x0, int y0, int w, int h, std::uint8_t r, std::uint8_t g,
          std::uint8_t b) {
    for (int y = std::max(y0, 0); y < std::min(y0 + h, image->height); ++y) {
        for (int x = std::max(x0, 0); x < std::min(x0 + w, image->width); ++x) {
            std::uint8_t* p = image->At(x, y);
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    }
}

}  // namespace

int TextWidth(const std::string& text, int scale) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * 6 * scale - scale;
}

void DrawText(RgbImage* image, int x, int y, const std::string& text, int scale, std::uint8_t r,
              std::uint8_t g, std::uint8_t b) {
    for (char c : text) {
        const std::uint8_t* rows = GlyphRows(c);
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if (rows[row] & (0x10 >> col)) {
                    Fill(image, x + col * scale, y + row * scale, scale, scale, r, g, b);
                }
            }
        }
        x += 6 * scale;
    }
}

RgbImage Shrink(const RgbImage& source, int width, int height) {
    RgbImage out(width, height);
    for (int y = 0; y < height; ++y) {
        int sy0 = static_cast<int>(static_cast<long long>(y) * source.height / height);
        int sy1 = std::max(
            sy0 + 1, static_cast<int>(static_cast<long long>(y + 1) * source.height / height));
        for (int x = 0; x < width; ++x) {
            int sx0 = static_cast<int>(static_cast<long long>(x) * source.width / width);
            int sx1 = std::max(
                sx0 + 1, static_cast<int>(static_cast<long long>(x + 1) * source.width / width));
            unsigned long sum[3] = {0, 0, 0};
            for (int sy = sy0; sy < sy1; ++sy) {
                for (int sx = sx0; sx < sx1; ++sx) {
                    const std::uint8_t* p = source.At(sx, sy);
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                }
            }
            unsigned long n = static_cast<unsigned long>(sy1 - sy0) * (sx1 - sx0);
            std::uint8_t* q = out.At(x, y);
            for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        }
    }
    return out;
}

RgbImage MakeContactSheet(const std::vector<SheetEntry>& entries) {
    if (entries.empty()) return RgbImage(1, 1, 255, 255, 255);
    const int count = static_cast<int>(entries.size());
    const int screenW = entries[0].image->width;
    const int screenH = entries[0].image->height;

    // Thumbnail box: 120x160 up to 64 frames, then shrinking with the frame count.
    double box = 1.0;
    if (count > 64) box = std::max(0.25, std::sqrt(64.0 / count));
    const double boxW = 120.0 * box, boxH = 160.0 * box;
    const double fit = std::min({1.0, boxW / screenW, boxH / screenH});
    const int thumbW = std::max(1, static_cast<int>(screenW * fit));
    const int thumbH = std::max(1, static_cast<int>(screenH * fit));

    const int textScale = thumbW >= 100 ? 2 : 1;
    const int lineH = 8 * textScale;
    const int gap = 8;
    const int cellW = std::max(thumbW + 2, TextWidth("frame 0000", textScale)) + gap;
    const int cellH = thumbH + 2 + 4 + 2 * lineH + gap;
    const int columns = std::min(count, std::max(8, static_cast<int>(std::ceil(std::sqrt(count)))));
    const int rows = (count + columns - 1) / columns;

    RgbImage sheet(columns * cellW + gap, rows * cellH + gap, 236, 236, 236);
    for (int i = 0; i < count; ++i) {
        const SheetEntry& e = entries[static_cast<std::size_t>(i)];
        const int x0 = gap + (i % columns) * cellW;
        const int y0 = gap + (i / columns) * cellH;
        Fill(&sheet, x0, y0, thumbW + 2, thumbH + 2, 120, 120, 120);  // frame line
        RgbImage thumb = (thumbW == e.image->width && thumbH == e.image->height)
                             ? *e.image
                             : Shrink(*e.image, thumbW, thumbH);
        for (int y = 0; y < thumbH; ++y) {
            std::copy_n(thumb.At(0, y), thumbW * 3, sheet.At(x0 + 1, y0 + 1 + y));
        }
        const int ty = y0 + thumbH + 2 + 4;
        DrawText(&sheet, x0, ty, "frame " + std::to_string(e.frameIndex), textScale, 30, 30, 30);
        DrawText(&sheet, x0, ty + lineH, std::to_string(e.timeMs) + " ms", textScale, 90, 90, 90);
    }
    return sheet;
}

}  // namespace preview
