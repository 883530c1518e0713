// Shared by the sources of the Windows backend: the Windows API and the platform headers in the
// one order that compiles, and the conversions between the two vocabularies.
#pragma once

// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include "platform/win32/undef_macros.h"
// clang-format on

#include <string>

#include "platform/platform.h"

namespace plat::win32 {

// Both are UTF-16 on Windows; only the C++ types differ.
inline const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

template <typename To, typename From>
To Handle(From handle) {
    return reinterpret_cast<To>(handle);
}

// Maps a device path to the path Windows opens. Device paths are absolute without a drive
// ("\Windows\startup.wav"). When the environment variable BOOTREEL_DEVICE_ROOT names a folder
// (a Windows path such as "C:\device" or "Z:\tmp\device"), such a path is taken relative to
// it; otherwise it stays as it is and Windows resolves it on the current drive. Paths with a
// drive letter or of the form "\\server\share" are never changed. An empty path stays empty.
std::wstring DevicePath(const char16_t* path);

}  // namespace plat::win32
