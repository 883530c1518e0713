// Drawing on the simulated device (platform/draw.h): device contexts of windows, of the screen
// and in memory, bitmap sections, solid brushes, rectangle fills and the source copy.
//
// The screen is a 24-bit blue-green-red picture, rows top-down. A window's device context draws
// into the screen at the window's position, clipped to the window and the screen. Copies are
// plain row copies: the show copies a whole screen every 20 ms.
//
// 8-bit bitmap sections hold palette indices (the decoder's pixel planes); the device keeps no
// colour table for them, so they can be copied only to and from other 8-bit bitmaps, and filled
// by no brush.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "platform/draw.h"
#include "platform/sim/core.h"

namespace plat::sim::core {

void ResetDrawingLocked(State& state) {
    // The bitmap a fresh memory context holds (1 x 1, monochrome: nothing copies from it) and
    // the brush every context starts with (white).
    GdiObject bitmap;
    bitmap.kind = GdiObject::Kind::Bitmap;
    bitmap.stock = true;
    bitmap.width = bitmap.height = 1;
    bitmap.bitsPerPixel = 1;
    state.stockBitmap = NewHandleValue();
    state.gdi[state.stockBitmap] = std::move(bitmap);
    GdiObject brush;
    brush.kind = GdiObject::Kind::Brush;
    brush.stock = true;
    brush.colour = 0x00FFFFFF;
    state.stockBrush = NewHandleValue();
    state.gdi[state.stockBrush] = std::move(brush);
}

}  // namespace plat::sim::core

namespace plat {

using namespace sim::core;

namespace {

// Largest bitmap section the device makes: larger requests fail as out of memory.
constexpr std::uint64_t kMaxBitmapBytes = std::uint64_t{1} << 30;

// Pixels that a device context reaches: pixel (x, y) of its coordinates is at byte
// origin + y * rowStep + x * bytes per pixel of `memory` (a negative step for bottom-up
// bitmaps), and only `clip` (in its coordinates) may be touched.
//
// A window may be placed anywhere in the range of int, so its origin, and a pixel's offset
// from it, are worked out in 64 bits (also where pointers have 32); only the sum, which lies
// inside `memory` for every pixel of `clip`, becomes an address.
struct Pixels {
    std::uint8_t* memory = nullptr;
    std::int64_t origin = 0;
    std::int64_t rowStep = 0;
    int bitsPerPixel = 0;
    RECT clip{0, 0, 0, 0};
    bool window = false;

    // The address of pixel (x, y), which must lie in `clip`.
    std::uint8_t* At(std::int64_t x, std::int64_t y) const {
        return memory + static_cast<std::ptrdiff_t>(origin + y * rowStep + x * (bitsPerPixel / 8));
    }
};

// The pixels [first, last) of a window's side that lie on a screen side of `screen` pixels,
// when the window starts at `position` and is `size` long: in the window's coordinates, so
// within 0 .. size (empty when the window lies off the screen on that side).
void VisibleSpan(int position, int size, int screen, std::int32_t* first, std::int32_t* last) {
    const std::int64_t from = std::clamp<std::int64_t>(-std::int64_t{position}, 0, size);
    const std::int64_t to = std::clamp<std::int64_t>(std::int64_t{screen} - position, from, size);
    *first = static_cast<std::int32_t>(from);
    *last = static_cast<std::int32_t>(to);
}

// The object of a handle, valid while the device's lock is held; null for none.
GdiObject* FindGdiLocked(std::uintptr_t id) {
    auto& gdi = S().gdi;
    auto it = gdi.find(id);
    return it == gdi.end() ? nullptr : &it->second;
}

DeviceContext* FindDcLocked(HDC dc) {
    auto& dcs = S().dcs;
    auto it = dcs.find(HandleValue(dc));
    return it == dcs.end() ? nullptr : &it->second;
}

bool ResolveLocked(HDC dc, Pixels* out) {
    State& s = S();
    const DeviceContext* context = FindDcLocked(dc);
    if (!context) return false;
    const int screenW = s.config.screenWidth;
    const int screenH = s.config.screenHeight;
    switch (context->kind) {
        case DeviceContext::Kind::Memory: {
            auto bitmap = FindGdiLocked(context->bitmap);
            if (!bitmap || bitmap->kind != GdiObject::Kind::Bitmap || !bitmap->bits) return false;
            const auto stride = static_cast<std::int64_t>(bitmap->stride);
            out->bitsPerPixel = bitmap->bitsPerPixel;
            out->clip = RECT{0, 0, bitmap->width, bitmap->height};
            if (bitmap->bottomUp) {
                out->memory = bitmap->bits.get();
                out->origin = (bitmap->height - 1) * stride;
                out->rowStep = -stride;
            } else {
                out->memory = bitmap->bits.get();
                out->rowStep = stride;
            }
            return true;
        }
        case DeviceContext::Kind::Screen:
            out->memory = s.screen.data();
            out->rowStep = std::int64_t{screenW} * 3;
            out->bitsPerPixel = 24;
            out->clip = RECT{0, 0, screenW, screenH};
            return true;
        case DeviceContext::Kind::Window: {
            auto window = FindWindowLocked(context->window);
            if (!window) return false;  // the window is gone: its context draws nowhere
            // Client coordinates; the screen pixel of (0, 0) is the window's position.
            out->rowStep = std::int64_t{screenW} * 3;
            out->memory = s.screen.data();
            out->origin = (std::int64_t{window->y} * screenW + window->x) * 3;
            out->bitsPerPixel = 24;
            VisibleSpan(window->x, window->width, screenW, &out->clip.left, &out->clip.right);
            VisibleSpan(window->y, window->height, screenH, &out->clip.top, &out->clip.bottom);
            out->window = true;
            return true;
        }
    }
    return false;
}

// Narrows a copy of width x height so that the target rectangle at (x, y) lies in `clip`,
// moving the other side's origin (ox, oy) along. In 64 bits: callers may pass any int, and the
// differences of two of them need 33 bits. A copy left with a positive width and height lies in
// both clips, so its numbers fit an int again.
void ClipCopy(const RECT& clip, std::int64_t* x, std::int64_t* y, std::int64_t* ox,
              std::int64_t* oy, std::int64_t* width, std::int64_t* height) {
    if (*x < clip.left) {
        const std::int64_t d = clip.left - *x;
        *x += d;
        *ox += d;
        *width -= d;
    }
    if (*y < clip.top) {
        const std::int64_t d = clip.top - *y;
        *y += d;
        *oy += d;
        *height -= d;
    }
    *width = std::min<std::int64_t>(*width, clip.right - *x);
    *height = std::min<std::int64_t>(*height, clip.bottom - *y);
}

HDC NewDcLocked(DeviceContext context) {
    const auto value = NewHandleValue();
    context.brush = S().stockBrush;
    if (context.kind == DeviceContext::Kind::Memory) {
        context.bitmap = S().stockBitmap;
    }
    S().dcs[value] = context;
    return HandleOf<DeviceContextObject>(value);
}

void ReleaseSelectionsLocked(const DeviceContext& context) {
    for (auto id : {context.bitmap, context.brush}) {
        if (auto object = FindGdiLocked(id)) --object->selections;
    }
}

}  // namespace

HDC GetDC(HWND window) {
    Lock lock(Dev().mutex);
    if (!window) return NewDcLocked(DeviceContext{DeviceContext::Kind::Screen, 0, 0, 0});
    auto w = FindWindowLocked(HandleValue(window));
    if (!w) return nullptr;
    return NewDcLocked(DeviceContext{DeviceContext::Kind::Window, w->id, 0, 0});
}

int ReleaseDC(HWND window, HDC dc) {
    Lock lock(Dev().mutex);
    DeviceContext* context = FindDcLocked(dc);
    // Memory contexts are deleted, not released; a window's context goes back to its window
    // (even after the window is gone, so that nothing leaks).
    if (!context || context->kind == DeviceContext::Kind::Memory ||
        context->window != HandleValue(window)) {
        return 0;
    }
    ReleaseSelectionsLocked(*context);
    S().dcs.erase(HandleValue(dc));
    return 1;
}

HDC CreateCompatibleDC(HDC dc) {
    Lock lock(Dev().mutex);
    if (dc && !FindDcLocked(dc)) return nullptr;
    return NewDcLocked(DeviceContext{DeviceContext::Kind::Memory, 0, 0, 0});
}

bool DeleteDC(HDC dc) {
    Lock lock(Dev().mutex);
    DeviceContext* context = FindDcLocked(dc);
    if (!context || context->kind != DeviceContext::Kind::Memory) return false;
    ReleaseSelectionsLocked(*context);  // selected objects stay; they are the caller's to delete
    S().dcs.erase(HandleValue(dc));
    return true;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    Lock lock(Dev().mutex);
    DeviceContext* context = FindDcLocked(dc);
    auto selected = FindGdiLocked(HandleValue(object));
    if (!context || !selected) return nullptr;
    std::uintptr_t* slot;
    if (selected->kind == GdiObject::Kind::Bitmap) {
        // A bitmap goes into one memory context at a time.
        if (context->kind != DeviceContext::Kind::Memory) return nullptr;
        if (context->bitmap == HandleValue(object)) return object;
        if (selected->selections > 0 && !selected->stock) return nullptr;
        slot = &context->bitmap;
    } else {
        slot = &context->brush;
    }
    const std::uintptr_t previous = *slot;
    if (auto old = FindGdiLocked(previous)) --old->selections;
    ++selected->selections;
    *slot = HandleValue(object);
    return HandleOf<GdiObjectBase>(previous);
}

bool DeleteObject(HGDIOBJ object) {
    decltype(State::gdi)::node_type doomed;
    Lock lock(Dev().mutex);
    State& s = S();
    auto it = s.gdi.find(HandleValue(object));
    if (it == s.gdi.end()) return false;
    if (it->second.stock) return true;
    // An object still selected into a context stays: its memory may be in use.
    if (it->second.selections > 0) return false;
    s.bitmapBytes -= it->second.bytes;
    doomed = s.gdi.extract(it);
    lock.unlock();  // the pixel memory is freed outside the lock
    return true;
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    Lock lock(Dev().mutex);
    GdiObject brush;
    brush.kind = GdiObject::Kind::Brush;
    brush.colour = colour & 0x00FFFFFF;
    const auto value = NewHandleValue();
    S().gdi[value] = std::move(brush);
    return HandleOf<GdiObjectBase>(value);
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brushHandle) {
    Lock lock(Dev().mutex);
    auto brush = FindGdiLocked(HandleValue(brushHandle));
    Pixels target;
    if (!rect || !brush || brush->kind != GdiObject::Kind::Brush || !ResolveLocked(dc, &target) ||
        target.bitsPerPixel != 24) {
        return 0;
    }
    const int left = std::max(rect->left, target.clip.left);
    const int top = std::max(rect->top, target.clip.top);
    const int right = std::min(rect->right, target.clip.right);
    const int bottom = std::min(rect->bottom, target.clip.bottom);
    if (left >= right || top >= bottom) return 1;
    const std::uint8_t bgr[3] = {static_cast<std::uint8_t>(brush->colour >> 16),
                                 static_cast<std::uint8_t>(brush->colour >> 8),
                                 static_cast<std::uint8_t>(brush->colour)};
    const std::size_t rowBytes = static_cast<std::size_t>(right - left) * 3;
    std::uint8_t* first = target.At(left, top);
    for (std::size_t at = 0; at < rowBytes; at += 3) std::memcpy(first + at, bgr, 3);
    for (int y = top + 1; y < bottom; ++y) {
        std::memcpy(target.At(left, y), first, rowBytes);
    }
    return 1;
}

bool BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int srcX, int srcY,
            std::uint32_t rop) {
    if (rop != SRCCOPY) return false;
    Lock lock(Dev().mutex);
    State& s = S();
    Pixels to, from;
    if (!ResolveLocked(destination, &to) || !ResolveLocked(source, &from) ||
        to.bitsPerPixel != from.bitsPerPixel) {
        return false;
    }
    std::int64_t toX = x, toY = y, fromX = srcX, fromY = srcY, w = width, h = height;
    ClipCopy(from.clip, &fromX, &fromY, &toX, &toY, &w, &h);
    ClipCopy(to.clip, &toX, &toY, &fromX, &fromY, &w, &h);
    bool changed = false;
    if (w > 0 && h > 0) {
        const int rows = static_cast<int>(h);
        const std::size_t rowBytes = static_cast<std::size_t>(w) * (to.bitsPerPixel / 8);
        auto sourceRow = [&](int r) { return from.At(fromX, fromY + r); };
        auto targetRow = [&](int r) { return to.At(toX, toY + r); };
        if (to.memory != from.memory) {
            // Onto the screen, a row that is already there is left alone, so that a copy tells
            // whether it changed the screen.
            for (int r = 0; r < rows; ++r) {
                if (to.window && std::memcmp(targetRow(r), sourceRow(r), rowBytes) == 0) continue;
                std::memcpy(targetRow(r), sourceRow(r), rowBytes);
                changed = true;
            }
        } else {
            changed = true;
            // Within one picture (the screen, or one bitmap in two contexts) the areas may
            // overlap: take the source whole first.
            std::vector<std::uint8_t> copy(rowBytes * rows);
            for (int r = 0; r < rows; ++r) {
                std::memcpy(copy.data() + r * rowBytes, sourceRow(r), rowBytes);
            }
            for (int r = 0; r < rows; ++r) {
                std::memcpy(targetRow(r), copy.data() + r * rowBytes, rowBytes);
            }
        }
    }
    if (!to.window || !s.screenObserver) return true;
    auto observer = s.screenObserver;
    sim::ScreenShot shot{NowLocked(), s.config.screenWidth, s.config.screenHeight, {}, changed};
    if (changed || s.screenObserverWantsAll || !s.screenObserverHasScreen) shot.bgr = s.screen;
    s.screenObserverHasScreen = true;
    lock.unlock();
    (*observer)(shot);
    return true;
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, std::uint32_t usage, void** bits,
                         HANDLE section, std::uint32_t /*offset*/) {
    if (bits) *bits = nullptr;
    if (!info) return nullptr;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biHeight == 0 ||
        header.biHeight == INT32_MIN || header.biPlanes != 1 ||
        (header.biBitCount != 8 && header.biBitCount != 24) || header.biCompression != BI_RGB ||
        (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS) || section != nullptr) {
        return nullptr;
    }
    const std::uint64_t width = static_cast<std::uint64_t>(header.biWidth);
    const std::uint64_t height =
        static_cast<std::uint64_t>(header.biHeight < 0 ? -header.biHeight : header.biHeight);
    const std::uint64_t stride = (width * header.biBitCount + 31) / 32 * 4;
    const std::uint64_t bytes = stride * height;
    Lock lock(Dev().mutex);
    State& s = S();
    if (dc && !FindDcLocked(dc)) return nullptr;
    if (bytes > kMaxBitmapBytes || (s.failBitmapsAbove != 0 && bytes > s.failBitmapsAbove) ||
        (s.bitmapMemoryLimit != 0 && s.bitmapBytes + bytes > s.bitmapMemoryLimit)) {
        return nullptr;
    }
    GdiObject bitmap;
    bitmap.kind = GdiObject::Kind::Bitmap;
    bitmap.width = header.biWidth;
    bitmap.height = static_cast<int>(height);
    bitmap.bitsPerPixel = header.biBitCount;
    bitmap.bottomUp = header.biHeight > 0;
    bitmap.stride = static_cast<std::size_t>(stride);
    bitmap.bytes = static_cast<std::size_t>(bytes);
    // Zeroed like the device's sections, without touching the memory: calloc hands out fresh
    // pages for large sizes, so a decoder that writes every pixel pays for the pages once.
    bitmap.bits.reset(static_cast<std::uint8_t*>(std::calloc(bitmap.bytes, 1)));
    if (!bitmap.bits) return nullptr;
    const auto value = NewHandleValue();
    std::uint8_t* const memory = bitmap.bits.get();
    s.gdi.emplace(value, std::move(bitmap));
    s.bitmapBytes += static_cast<std::size_t>(bytes);
    if (bits) *bits = memory;
    return HandleOf<GdiObjectBase>(value);
}

}  // namespace plat

namespace plat::sim {

using namespace core;

void FailBitmapsAbove(std::size_t bytes) {
    Lock lock(Dev().mutex);
    S().failBitmapsAbove = bytes;
}

void SetBitmapMemoryLimit(std::size_t bytes) {
    Lock lock(Dev().mutex);
    S().bitmapMemoryLimit = bytes;
}

std::uint64_t LargestBitmapBytes() {
    Lock lock(Dev().mutex);
    const std::uint64_t failAbove = S().failBitmapsAbove;
    return failAbove != 0 && failAbove < kMaxBitmapBytes ? failAbove : kMaxBitmapBytes;
}

ScreenShot Screen() {
    Lock lock(Dev().mutex);
    State& s = S();
    return ScreenShot{NowLocked(), s.config.screenWidth, s.config.screenHeight, s.screen};
}

void SetScreenCopyObserver(std::function<void(const ScreenShot&)> observer, ScreenCopies what) {
    Lock lock(Dev().mutex);
    S().screenObserverWantsAll = what == ScreenCopies::All;
    S().screenObserverHasScreen = false;
    S().screenObserver =
        observer ? std::make_shared<std::function<void(const ScreenShot&)>>(std::move(observer))
                 : nullptr;
}

}  // namespace plat::sim
