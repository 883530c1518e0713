// The compositor's behaviour written out plainly; see compose_reference.h.
#include "compose_reference.h"

#include <algorithm>

namespace br::test {
namespace {

using i64 = std::int64_t;

struct R64 {
    i64 left, top, right, bottom;
};

// Intersection that reports emptiness; every coordinate in 64 bits.
bool Intersect(R64& a, const R64& b) {
    a.left = std::max(a.left, b.left);
    a.top = std::max(a.top, b.top);
    a.right = std::min(a.right, b.right);
    a.bottom = std::min(a.bottom, b.bottom);
    return a.left < a.right && a.top < a.bottom;
}

R64 Of(const Rect& r) {
    return R64{r.left, r.top, r.right, r.bottom};
}

}  // namespace

void ReferenceComposeLayer(const CImgData& buffer, const Rect& area, std::uint8_t* pixels,
                           std::int32_t rowSkip, const Rect* clip, const Size* surfaceSize,
                           Orientation orientation, const Point* layerOrigin, const Rect* layerClip,
                           const Size* canvasSize) {
    // Step 1: an empty buffer or one without a colour plane draws nothing; so does a buffer
    // that cannot be read safely (no layout for 0 or 2 bytes a pixel, palette pixels without a
    // palette) and a missing destination.
    if (buffer.width <= 0 || buffer.height <= 0 || buffer.colorBitmap == nullptr) return;
    if (buffer.colorBits == nullptr || pixels == nullptr) return;
    if (buffer.bytesPerPixel == 0 || buffer.bytesPerPixel == 2) return;
    if (buffer.bytesPerPixel == 1 && buffer.palette == nullptr) return;

    // Step 2: the destination rectangle D.
    const i64 extW = surfaceSize ? surfaceSize->cx : i64{area.right} - area.left;
    const i64 extH = surfaceSize ? surfaceSize->cy : i64{area.bottom} - area.top;
    R64 D = Of(area);
    if (surfaceSize && !Intersect(D, R64{0, 0, extW, extH})) return;
    if (clip && !Intersect(D, Of(*clip))) return;

    // Step 3: the visible source rectangle V inside the layer rectangle L.
    const i64 cw = canvasSize ? canvasSize->cx : buffer.width;
    const i64 ch = canvasSize ? canvasSize->cy : buffer.height;
    const i64 ox = layerOrigin ? layerOrigin->x : 0;
    const i64 oy = layerOrigin ? layerOrigin->y : 0;
    const R64 L{ox, oy, ox + buffer.width, oy + buffer.height};
    R64 V = L;
    if (canvasSize && !Intersect(V, R64{0, 0, cw, ch})) return;
    if (layerClip && !Intersect(V, Of(*layerClip))) return;

    const int o = (orientation >= 0 && orientation <= 7) ? orientation : 7;
    const bool byRows = o == 0 || o == 2 || o == 4 || o == 6;

    // The orientation table: canvas row v and column u of display point (x, y).
    auto mapV = [&](i64 x, i64 y) -> i64 {
        switch (o) {
            case 0:
                return y * ch / extH;
            case 1:
                return ch - 1 - x * ch / extW;
            case 2:
                return ch - 1 - y * ch / extH;
            case 3:
                return x * ch / extW;
            case 4:
                return y * ch / extH;
            case 5:
                return x * ch / extW;
            case 6:
                return ch - 1 - y * ch / extH;
            default:
                return ch - 1 - x * ch / extW;
        }
    };
    auto mapU = [&](i64 x, i64 y) -> i64 {
        switch (o) {
            case 0:
                return x * cw / extW;
            case 1:
                return y * cw / extH;
            case 2:
                return cw - 1 - x * cw / extW;
            case 3:
                return cw - 1 - y * cw / extH;
            case 4:
                return cw - 1 - x * cw / extW;
            case 5:
                return y * cw / extH;
            case 6:
                return x * cw / extW;
            default:
                return cw - 1 - y * cw / extH;
        }
    };
    // Step 5: clamp into V.
    auto clampV = [&](i64 v) { return v < V.top ? V.top : (v >= V.bottom ? V.bottom - 1 : v); };
    auto clampU = [&](i64 u) { return u < V.left ? V.left : (u >= V.right ? V.right - 1 : u); };

    const i64 R = 3 * (i64{area.right} - area.left + rowSkip);
    auto dest = [&](i64 x, i64 y) { return pixels + (y - area.top) * R + (x - area.left) * 3; };

    const i64 rowLength = i64{buffer.bytesPerPixel} * buffer.width + buffer.rowPadding;
    const i64 maskRowLength = (i64{buffer.width} + 3) / 4 * 4;
    const std::int32_t key = buffer.transparentIndex;

    // Step 7: the pixel rule for layer pixel (c, r) and destination d.
    auto pixelRule = [&](i64 c, i64 r, std::uint8_t* d) {
        const std::uint8_t* p = buffer.colorBits + r * rowLength + c * buffer.bytesPerPixel;
        if (buffer.bytesPerPixel == 1) {
            if (key != -1 && p[0] == (key & 0xFF)) return;
            const PaletteEntry& e = buffer.palette->entries[p[0]];
            d[0] = e.blue;
            d[1] = e.green;
            d[2] = e.red;
        } else if (key == -1) {
            d[0] = p[0];
            d[1] = p[1];
            d[2] = p[2];
        } else if (buffer.maskBits != nullptr) {
            const unsigned m = buffer.maskBits[r * maskRowLength + c];
            if (m == 0) return;
            for (int i = 0; i < 3; ++i) {
                d[i] = static_cast<std::uint8_t>(((255u - m) * d[i] + m * p[i]) / 255u);
            }
        } else {
            const bool isKey =
                p[0] == ((key >> 16) & 0xFF) && p[1] == ((key >> 8) & 0xFF) && p[2] == (key & 0xFF);
            if (!isKey) {
                d[0] = p[0];
                d[1] = p[1];
                d[2] = p[2];
            }
        }
    };

    // Steps 4 and 6: the traversal with its repetitions. "None" is kept as a flag of its own.
    bool havePrevOuter = false;
    i64 prevOuter = 0;
    const i64 outerFrom = byRows ? D.top : D.left;
    const i64 outerTo = byRows ? D.bottom : D.right;
    const i64 innerFrom = byRows ? D.left : D.top;
    const i64 innerTo = byRows ? D.right : D.bottom;
    for (i64 outer = outerFrom; outer < outerTo; ++outer) {
        const i64 outerX = byRows ? D.left : outer;  // any x or y of this outer step will do
        const i64 outerY = byRows ? outer : D.top;
        const i64 v = clampV(mapV(outerX, outerY));
        if (havePrevOuter && v == prevOuter) {
            for (i64 inner = innerFrom; inner < innerTo; ++inner) {
                const i64 x = byRows ? inner : outer;
                const i64 y = byRows ? outer : inner;
                const std::uint8_t* from = byRows ? dest(x, y - 1) : dest(x - 1, y);
                std::uint8_t* to = dest(x, y);
                for (int i = 0; i < 3; ++i) to[i] = from[i];
            }
            continue;
        }
        havePrevOuter = true;
        prevOuter = v;
        bool havePrevInner = false;
        i64 prevInner = 0;
        for (i64 inner = innerFrom; inner < innerTo; ++inner) {
            const i64 x = byRows ? inner : outer;
            const i64 y = byRows ? outer : inner;
            const i64 u = clampU(mapU(x, y));
            std::uint8_t* d = dest(x, y);
            if (havePrevInner && u == prevInner) {
                const std::uint8_t* before = byRows ? dest(x - 1, y) : dest(x, y - 1);
                for (int i = 0; i < 3; ++i) d[i] = before[i];
            } else {
                pixelRule(u - L.left, v - L.top, d);
            }
            havePrevInner = true;
            prevInner = u;
        }
    }
}

}  // namespace br::test
