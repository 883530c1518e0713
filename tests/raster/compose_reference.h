// A plain, step-by-step statement of what ComposeLayer draws, kept beside the tests so that the
// optimised compositor can be compared with it byte for byte. It walks the destination in the
// documented traversal order (by rows or by columns), divides per step and applies the pixel
// rule one byte at a time; speed is no concern here.
#pragma once

#include <cstdint>

#include "decode/image.h"
#include "raster/geometry.h"

namespace br::test {

// Same arguments and the same result as br::ComposeLayer.
void ReferenceComposeLayer(const CImgData& buffer, const Rect& area, std::uint8_t* pixels,
                           std::int32_t rowSkip, const Rect* clip, const Size* surfaceSize,
                           Orientation orientation, const Point* layerOrigin, const Rect* layerClip,
                           const Size* canvasSize);

}  // namespace br::test
