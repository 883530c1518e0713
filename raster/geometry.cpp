// Rectangle and size arithmetic; see raster/geometry.h.
#include "raster/geometry.h"

#include <algorithm>

namespace br {

void Rect::Offset(std::int32_t dx, std::int32_t dy) {
    left += dx;
    right += dx;
    top += dy;
    bottom += dy;
}

bool Rect::Intersect(const Rect& a, const Rect& b) {
    // Read both arguments before writing: either may be this rectangle.
    const std::int32_t l = std::max(a.left, b.left);
    const std::int32_t r = std::min(a.right, b.right);
    if (l < r) {
        const std::int32_t t = std::max(a.top, b.top);
        const std::int32_t btm = std::min(a.bottom, b.bottom);
        if (t < btm) {
            Set(l, t, r, btm);
            return true;
        }
    }
    SetEmpty();
    return false;
}

Rect& CopyRect(Rect& destination, const Rect& source) {
    destination.Set(source.left, source.top, source.right, source.bottom);
    return destination;
}

namespace {

// Truncates toward zero like a plain conversion, but saturates where the conversion of an
// out-of-range (or not-a-number) value would be undefined.
std::int32_t TruncateSaturated(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t ScaleLength(std::int32_t length, double factor) {
    if (factor == 1.0) return length;
    if (factor > 1.0) return TruncateSaturated(static_cast<double>(length) * factor + 0.5);
    return TruncateSaturated(static_cast<double>(length) * factor);
}

Size ScaleSize(std::int32_t cx, std::int32_t cy, double factor, Orientation orientation) {
    const std::int32_t w = ScaleLength(cx, factor);
    const std::int32_t h = ScaleLength(cy, factor);
    return orientation % 2 == 1 ? Size(h, w) : Size(w, h);
}

Size PercentSize(std::int32_t cx, std::int32_t cy, std::int32_t percent, Orientation orientation) {
    // Products in 64 bits so that large sides cannot overflow; the results are those of the
    // 32-bit arithmetic wherever that does not overflow.
    auto scale = [percent](std::int32_t v) -> std::int32_t {
        const std::int64_t p = static_cast<std::int64_t>(v) * percent;
        if (percent < 100)
            return static_cast<std::int32_t>(std::max<std::int64_t>((p + 99) / 100, 1));
        if (percent > 100) return static_cast<std::int32_t>((p + 50) / 100);
        return v;
    };
    const std::int32_t w = scale(cx);
    const std::int32_t h = scale(cy);
    return orientation % 2 == 1 ? Size(h, w) : Size(w, h);
}

void FitSize(std::int32_t boxW, std::int32_t boxH, std::int32_t picW, std::int32_t picH,
             bool always, Size* result) {
    // Callers pass loaded pictures only; a picture without area has nothing to fit and is
    // returned as it is rather than dividing by zero.
    if (picW <= 0 || picH <= 0) {
        *result = Size(picW, picH);
        return;
    }
    const double rw = static_cast<double>(boxW) / picW;
    const double rh = static_cast<double>(boxH) / picH;
    if (1.0 <= rw && 1.0 <= rh && !always) {
        *result = Size(picW, picH);
        return;
    }
    if (rw <= rh) {
        // The width limits: the height is the exact height rounded up, within 1 .. boxH.
        std::int64_t h =
            (static_cast<std::int64_t>(picW) + static_cast<std::int64_t>(boxW) * picH - 1) / picW;
        if (h < 1) h = 1;
        if (h >= boxH) h = boxH;
        *result = Size(boxW, static_cast<std::int32_t>(h));
    } else {
        std::int64_t w =
            (static_cast<std::int64_t>(picH) + static_cast<std::int64_t>(boxH) * picW - 1) / picH;
        if (w < 1) w = 1;
        if (w >= boxW) w = boxW;
        *result = Size(static_cast<std::int32_t>(w), boxH);
    }
}

}  // namespace br
