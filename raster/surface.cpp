// Drawing surfaces over the platform's bitmap sections; see raster/surface.h.
#include "raster/surface.h"

#include <cstdint>
#include <limits>

#include "platform/draw.h"

namespace br {

plat::HBITMAP CreateSurface(plat::HDC dc, std::int32_t width, std::int32_t height, Size* size,
                            std::uint8_t** bits, bool halveOnFailure, bool bottomUp) {
    // Without somewhere to report the result there is nothing useful to create.
    if (width < 1 || height < 1 || bits == nullptr || size == nullptr) return nullptr;

    // Whole groups of 4 pixels make every row 3 * width bytes, a multiple of 4, so the rows of
    // a 24-bit section carry no padding and can be addressed as one block. A width within 3 of
    // the largest value has no such multiple and cannot be made.
    const std::int64_t rounded = width % 4 != 0 ? std::int64_t{width} - width % 4 + 4 : width;
    if (rounded > std::numeric_limits<std::int32_t>::max()) return nullptr;

    plat::HDC borrowed = nullptr;
    if (dc == nullptr) {
        borrowed = plat::GetDC(nullptr);
        dc = borrowed;
    }

    plat::BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<std::int32_t>(rounded);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = plat::BI_RGB;

    plat::HBITMAP bitmap = nullptr;
    for (;;) {
        info.bmiHeader.biHeight = bottomUp ? height : -height;
        void* memory = nullptr;
        bitmap = plat::CreateDIBSection(dc, &info, plat::DIB_RGB_COLORS, &memory, nullptr, 0);
        if (bitmap != nullptr && memory == nullptr) {  // a section without memory is of no use
            plat::DeleteObject(bitmap);
            bitmap = nullptr;
        }
        if (bitmap != nullptr) {
            *size = Size(static_cast<std::int32_t>(rounded), height);
            *bits = static_cast<std::uint8_t*>(memory);
            break;
        }
        // Retry at half the height (rounded up) while that is still at least 4 rows.
        if (!halveOnFailure) break;
        height -= height / 2;
        if (height < 4) break;
    }

    if (borrowed != nullptr) plat::ReleaseDC(nullptr, borrowed);
    return bitmap;
}

}  // namespace br
