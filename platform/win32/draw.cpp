// Drawing over gdi32 (and user32 for the window device contexts).
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
    void* memory = nullptr;
    ::HBITMAP bitmap = ::CreateDIBSection(Handle<::HDC>(dc),
                                          reinterpret_cast<const ::BITMAPINFO*>(info), usage,
                                          &memory, Handle<::HANDLE>(section), offset);
    if (bits != nullptr) *bits = bitmap != nullptr ? memory : nullptr;
    return Handle<HBITMAP>(bitmap);
}

}  // namespace plat
