// The registry: keys with string and 32-bit values under the local-machine and current-user
// roots.
#pragma once

#include "platform/types.h"

namespace plat {

inline HKEY const HKEY_ROOT_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline HKEY const HKEY_ROOT_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});

constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_DWORD = 4;
constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_MORE_DATA = 234;

// Opens `subKey` (backslash-separated, case-insensitive) under a root or an open key.
long RegOpenKeyEx(HKEY key, const char16_t* subKey, std::uint32_t options, std::uint32_t access,
                  HKEY* result);
long RegCloseKey(HKEY key);

// Reads a value. `size` is the capacity of `data` in bytes on entry and the bytes stored (for a
// string: including its terminating 0 unit) on return. ERROR_MORE_DATA when it does not fit
// (nothing is copied then).
long RegQueryValueEx(HKEY key, const char16_t* valueName, std::uint32_t* reserved,
                     std::uint32_t* type, std::uint8_t* data, std::uint32_t* size);

// Reads a 32-bit value by root, key path and value name; leaves *value unchanged on failure.
// Returns 0 (success) or a negative result.
long RegistryGetDWORD(HKEY root, const char16_t* subKey, const char16_t* valueName,
                      std::uint32_t* value);

}  // namespace plat
