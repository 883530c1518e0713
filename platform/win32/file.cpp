// Files over kernel32 and the C runtime's wide-path streams.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/win32/backend.h"

namespace plat {

using win32::Handle;

namespace win32 {

std::wstring DevicePath(const char16_t* path) {
    if (path == nullptr) return std::wstring();
    std::wstring result(Wide(path));
    const bool driveless = !result.empty() && result[0] == L'\\' &&
                           (result.size() < 2 || result[1] != L'\\');
    if (!driveless) return result;
    wchar_t root[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"BOOTREEL_DEVICE_ROOT", root, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return result;
    std::wstring prefix(root, length);
    while (!prefix.empty() && (prefix.back() == L'\\' || prefix.back() == L'/')) prefix.pop_back();
    return prefix + result;
}

}  // namespace win32

HFIND FindFirstFile(const char16_t* path, FindData* data) {
    if (path == nullptr || data == nullptr) return nullptr;
    const std::wstring windowsPath = win32::DevicePath(path);
    ::WIN32_FIND_DATAW found{};
    ::HANDLE find = ::FindFirstFileW(windowsPath.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return nullptr;
    data->attributes = found.dwFileAttributes;
    data->size = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
    static_assert(sizeof(data->name) == sizeof(found.cFileName), "both hold MAX_PATH units");
    std::copy(std::begin(found.cFileName), std::end(found.cFileName), data->name);
    data->name[259] = u'\0';
    return Handle<HFIND>(find);
}

bool FindClose(HFIND find) {
    if (find == nullptr) return false;
    return ::FindClose(Handle<::HANDLE>(find)) != FALSE;
}

HFILESTREAM FileOpen(const char16_t* path, const char* mode) {
    if (path == nullptr || mode == nullptr || path[0] == u'\0') return nullptr;
    // Streams are for reading the device's media; a writing mode would create or truncate a
    // file, so only reading modes ("r", "rb") are let through.
    if (mode[0] != 'r' || std::strchr(mode, '+') != nullptr || std::strchr(mode, 'w') != nullptr ||
        std::strchr(mode, 'a') != nullptr) {
        return nullptr;
    }
    std::wstring wideMode;
    for (const char* c = mode; *c != '\0'; ++c) wideMode.push_back(static_cast<wchar_t>(*c));
    const std::wstring windowsPath = win32::DevicePath(path);
    return reinterpret_cast<HFILESTREAM>(::_wfopen(windowsPath.c_str(), wideMode.c_str()));
}

std::size_t FileRead(void* buffer, std::size_t size, std::size_t count, HFILESTREAM stream) {
    if (stream == nullptr) return 0;
    return std::fread(buffer, size, count, reinterpret_cast<std::FILE*>(stream));
}

int FileSeek(HFILESTREAM stream, long offset, int origin) {
    if (stream == nullptr) return -1;
    return std::fseek(reinterpret_cast<std::FILE*>(stream), offset, origin);
}

long FileTell(HFILESTREAM stream) {
    if (stream == nullptr) return -1;
    return std::ftell(reinterpret_cast<std::FILE*>(stream));
}

int FileClose(HFILESTREAM stream) {
    if (stream == nullptr) return -1;
    return std::fclose(reinterpret_cast<std::FILE*>(stream));
}

}  // namespace plat
