// Drawing: device contexts, bitmap sections, solid brushes and the source copy between
// contexts. Bitmap sections are the only pixel memory the system draws into directly; their
// memory stays valid while the bitmap exists.
#pragma once

#include "platform/types.h"

namespace plat {

constexpr std::uint32_t SRCCOPY = 0xCC0020;
constexpr std::uint32_t DIB_RGB_COLORS = 0;
constexpr std::uint32_t DIB_PAL_COLORS = 1;
constexpr std::uint32_t BI_RGB = 0;

// The 40-byte bitmap information header. A negative height asks for top-down rows.
struct BITMAPINFOHEADER {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "the header is 40 bytes");

struct RGBQUAD {
    std::uint8_t rgbBlue;
    std::uint8_t rgbGreen;
    std::uint8_t rgbRed;
    std::uint8_t rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// The device context of a window's client area, or of the whole screen for a window of none.
// Give it back with ReleaseDC.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

HDC CreateCompatibleDC(HDC dc);
bool DeleteDC(HDC dc);

// Selects a bitmap or brush into a context; returns the object it replaces (none if none).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
bool DeleteObject(HGDIOBJ object);

HBRUSH CreateSolidBrush(COLORREF colour);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);

// Copies width x height pixels from (srcX, srcY) of the source context to (x, y) of the
// destination context. Only SRCCOPY is supported.
bool BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int srcX,
            int srcY, std::uint32_t rop);

// Creates a device-independent bitmap section (8 or 24 bits per pixel, uncompressed) and
// returns its pixel memory through `bits`. Rows are padded to multiples of 4 bytes. `dc` may be
// none. Returns none (and sets *bits to null) on failure.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, std::uint32_t usage, void** bits,
                         HANDLE section, std::uint32_t offset);

}  // namespace plat
