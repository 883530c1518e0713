// Drawing over gdi32 (and user32 for the window device contexts).
#include <cstring>

#include "platform/win32/backend.h"

namespace plat {

using win32::Handle;

// The record layouts are shared with the Windows API, so headers are passed as they stand.
static_assert(sizeof(BITMAPINFOHEADER) == sizeof(::BITMAPINFOHEADER), "same header layout");
static_assert(sizeof(RGBQUAD) == sizeof(::RGBQUAD), "same palette entry layout");
static_assert(sizeof(RECT) == sizeof(::RECT), "same rectangle layout");

HDC GetDC(HWND window) { return Handle<HDC>(::GetDC(Handle<::HWND>(window))); }

int ReleaseDC(HWND window, HDC dc) {
    return ::ReleaseDC(Handle<::HWND>(window), Handle<::HDC>(dc));
}

HDC CreateCompatibleDC(HDC dc) { return Handle<HDC>(::CreateCompatibleDC(Handle<::HDC>(dc))); }

bool DeleteDC(HDC dc) { return ::DeleteDC(Handle<::HDC>(dc)) != FALSE; }

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    return Handle<HGDIOBJ>(::SelectObject(Handle<::HDC>(dc), Handle<::HGDIOBJ>(object)));
}

bool DeleteObject(HGDIOBJ object) { return ::DeleteObject(Handle<::HGDIOBJ>(object)) != FALSE; }

HBRUSH CreateSolidBrush(COLORREF colour) { return Handle<HBRUSH>(::CreateSolidBrush(colour)); }

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    if (rect == nullptr) return 0;
    const ::RECT r{rect->left, rect->top, rect->right, rect->bottom};
    return ::FillRect(Handle<::HDC>(dc), &r, Handle<::HBRUSH>(brush));
}

bool BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int srcX,
            int srcY, std::uint32_t rop) {
    return ::BitBlt(Handle<::HDC>(destination), x, y, width, height, Handle<::HDC>(source), srcX,
                    srcY, rop) != FALSE;
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, std::uint32_t usage, void** bits,
                         HANDLE section, std::uint32_t offset) {
    if (bits != nullptr) *bits = nullptr;
    if (info == nullptr || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) ||
        info->bmiHeader.biCompression != BI_RGB ||
        (info->bmiHeader.biBitCount != 8 && info->bmiHeader.biBitCount != 24)) {
        return nullptr;
    }
    // Callers hand over the bare header: 8-bit sections hold palette indices that only the
    // system's own code reads, and no colour table comes with them. Windows would read a
    // 256-entry table after the header (past the caller's record) and, for palette indices,
    // needs a device context; so the section gets a table of its own, a grey ramp, unless the
    // caller gives colours and says how many.
    struct {
        ::BITMAPINFOHEADER header;
        ::RGBQUAD colours[256];
    } full{};
    std::memcpy(&full.header, &info->bmiHeader, sizeof full.header);
    full.header.biSize = sizeof full.header;
    std::uint32_t windowsUsage = usage;
    if (full.header.biBitCount == 8) {
        const std::uint32_t given = info->bmiHeader.biClrUsed;
        if (usage == DIB_RGB_COLORS && given >= 1 && given <= 256) {
            std::memcpy(full.colours, info->bmiColors, given * sizeof(::RGBQUAD));
        } else {
            for (int i = 0; i < 256; ++i) {
                const BYTE level = static_cast<BYTE>(i);
                full.colours[i] = ::RGBQUAD{level, level, level, 0};
            }
            full.header.biClrUsed = 256;
        }
        windowsUsage = DIB_RGB_COLORS;
    }
    void* memory = nullptr;
    ::HBITMAP bitmap = ::CreateDIBSection(Handle<::HDC>(dc),
                                          reinterpret_cast<const ::BITMAPINFO*>(&full),
                                          windowsUsage, &memory, Handle<::HANDLE>(section),
                                          offset);
    if (bits != nullptr) *bits = bitmap != nullptr ? memory : nullptr;
    return Handle<HBITMAP>(bitmap);
}

}  // namespace plat
