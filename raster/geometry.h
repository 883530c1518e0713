// Rectangles, points, sizes, orientations and the size arithmetic that places, clips, scales
// and turns pictures. Plain value arithmetic: no allocation, no failure path.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace br {

// left, top, right, bottom; right and bottom exclusive. Same layout as the platform's
// rectangle record, so a Rect can be handed in place to calls that fill or read one.
struct Rect : plat::RECT {
    Rect() = default;  // fields unset
    Rect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) : plat::RECT{l, t, r, b} {}
    Rect(const Rect&) = default;
    Rect& operator=(const Rect&) = default;

    void Set(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    void SetEmpty() { Set(0, 0, 0, 0); }
    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    void Offset(std::int32_t dx, std::int32_t dy);
    // This rectangle becomes a ∩ b ((0, 0, 0, 0) when that is empty); true when not empty.
    // Either argument may be this rectangle.
    bool Intersect(const Rect& a, const Rect& b);
};

// Copies the four fields of `source` into `destination` and returns the destination.
Rect& CopyRect(Rect& destination, const Rect& source);

struct Point {
    std::int32_t x;
    std::int32_t y;
    Point() = default;
    Point(std::int32_t px, std::int32_t py) : x(px), y(py) {}
};

struct Size {
    std::int32_t cx;
    std::int32_t cy;
    Size() = default;
    Size(std::int32_t w, std::int32_t h) : cx(w), cy(h) {}
};

// 0..7: bits 0-1 quarter turns clockwise, bit 2 a left-right mirror after the turn. Odd values
// exchange width and height.
using Orientation = std::int32_t;

// length * factor: unchanged for 1.0, rounded half up when enlarging, truncated when reducing.
std::int32_t ScaleLength(std::int32_t length, double factor);
Size ScaleSize(std::int32_t cx, std::int32_t cy, double factor, Orientation orientation);
Size PercentSize(std::int32_t cx, std::int32_t cy, std::int32_t percent, Orientation orientation);
// Fits a picture into a box keeping its aspect ratio; see the definition for the rounding.
void FitSize(std::int32_t boxW, std::int32_t boxH, std::int32_t picW, std::int32_t picH,
             bool always, Size* result);

}  // namespace br
