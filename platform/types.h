// Basic vocabulary shared by every platform service group: opaque handles, the rectangle
// record that window and drawing calls fill or read in place, and the calling convention of
// callbacks. The shapes follow the Windows API so that the win32 backend is a thin mapping;
// the numbers that callers pass (messages, flags, results) are the platform's own.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define PLAT_CALLBACK __stdcall
#else
#define PLAT_CALLBACK
#endif

namespace plat {

// Opaque handles. Each kind is a distinct pointer type so that the compiler keeps them apart;
// none of them is ever dereferenced outside its backend. A null handle means "none".
struct WindowObject;
struct DeviceContextObject;
struct GdiObjectBase;
struct KernelObject;
struct ModuleObject;
struct RegistryKeyObject;
struct FileStreamObject;
struct FindObject;

using HWND = WindowObject*;
using HDC = DeviceContextObject*;
using HGDIOBJ = GdiObjectBase*;  // bitmaps and brushes
using HBITMAP = HGDIOBJ;
using HBRUSH = HGDIOBJ;
using HANDLE = KernelObject*;  // threads and events
using HMODULE = ModuleObject*;
using HKEY = RegistryKeyObject*;
using HFILESTREAM = FileStreamObject*;
using HFIND = FindObject*;

using COLORREF = std::uint32_t;  // 0x00BBGGRR, red in the low byte
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// Same field order and widths as the platform's rectangle record: right and bottom exclusive.
struct RECT {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

struct POINT {
    std::int32_t x;
    std::int32_t y;
};

}  // namespace plat
