// The layer compositor: draws one decoded frame (a CImgData) into a 24-bit drawing surface,
// stretched by nearest neighbour, turned or mirrored, clipped on the display side and on the
// picture side, palette indices converted to blue-green-red, transparent pixels left alone and
// colour pixels with a mask blended by it.
#pragma once

#include <cstdint>

#include "decode/image.h"
#include "raster/geometry.h"

namespace br {

// buffer       the frame's pixels (read only)
// area         the part of display space that the destination memory holds
// pixels       destination pixel of (area.left, area.top)
// rowSkip      pixels between the end of one destination row of `area` and the next row
// clip         display-space clip, or null
// surfaceSize  display size of the whole picture, or null (then `area`'s size)
// orientation  turn and mirror (0..7; others draw as 7)
// layerOrigin  the buffer's top-left in canvas space, or null for (0, 0)
// layerClip    canvas-space clip of the source, or null
// canvasSize   size of the whole picture in canvas space, or null (then the buffer's size)
// Writes only destination pixels inside the destination rectangle D; allocates nothing.
void ComposeLayer(const CImgData& buffer, const Rect& area, std::uint8_t* pixels,
                  std::int32_t rowSkip, const Rect* clip, const Size* surfaceSize,
                  Orientation orientation, const Point* layerOrigin, const Rect* layerClip,
                  const Size* canvasSize);

}  // namespace br
