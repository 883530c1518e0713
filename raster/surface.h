// 24-bit drawing surfaces: bitmap sections whose memory the program writes directly, 3 bytes
// per pixel (blue, green, red), width rounded up to a multiple of 4 pixels so rows carry no
// padding, rows top-down unless bottom-up is asked for.
#pragma once

#include <cstdint>

#include "platform/types.h"
#include "raster/geometry.h"

namespace br {

// Creates a surface of at least width x height pixels for `dc` (none: the screen's context is
// borrowed for the call). On success writes (rounded width, created height) to *size and the
// pixel memory to *bits and returns the bitmap; none on failure (outputs untouched). With
// `halveOnFailure` a failing height is retried at (height + 1) / 2 while that is at least 4.
plat::HBITMAP CreateSurface(plat::HDC dc, std::int32_t width, std::int32_t height, Size* size,
                            std::uint8_t** bits, bool halveOnFailure, bool bottomUp);

}  // namespace br
