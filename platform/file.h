// Files: find-first lookups and buffered byte streams. Paths are device paths such as
// "\Windows\startup.wav": absolute, backslash-separated, no drive letter.
#pragma once

#include "platform/types.h"

namespace plat {

constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

struct FindData {
    std::uint32_t attributes;
    std::uint64_t size;
    char16_t name[260];
};

// Finds the first entry matching the path (the last component may hold * and ?). None when
// nothing matches.
HFIND FindFirstFile(const char16_t* path, FindData* data);
bool FindClose(HFIND find);

// Buffered streams over a file, with the C library's meaning. Only mode "rb" is used.
HFILESTREAM FileOpen(const char16_t* path, const char* mode);
std::size_t FileRead(void* buffer, std::size_t size, std::size_t count, HFILESTREAM stream);
constexpr int FILE_SEEK_SET = 0;
constexpr int FILE_SEEK_CUR = 1;
constexpr int FILE_SEEK_END = 2;
int FileSeek(HFILESTREAM stream, long offset, int origin);  // 0 on success
long FileTell(HFILESTREAM stream);                          // -1 on failure
int FileClose(HFILESTREAM stream);

}  // namespace plat
