// The registry over advapi32.
#include <algorithm>
#include <vector>

#include "platform/win32/backend.h"

namespace {
// The Windows roots, taken outside namespace plat where their macros' casts name the right type.
const HKEY kCurrentUser = HKEY_CURRENT_USER;
const HKEY kLocalMachine = HKEY_LOCAL_MACHINE;
}  // namespace

namespace plat {

using win32::Handle;
using win32::Wide;

namespace {

// The platform spells the predefined roots as their 32-bit values; 64-bit Windows expects them
// sign-extended, so they are translated rather than cast.
::HKEY ToWindows(HKEY key) {
    if (key == HKEY_ROOT_CURRENT_USER) return kCurrentUser;
    if (key == HKEY_ROOT_LOCAL_MACHINE) return kLocalMachine;
    return Handle<::HKEY>(key);
}

}  // namespace

long RegOpenKeyEx(HKEY key, const char16_t* subKey, std::uint32_t options, std::uint32_t access,
                  HKEY* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    // The handheld platform ignores the access mask and callers pass 0; the desktop would then
    // grant no rights at all, so 0 asks for reading.
    const REGSAM desired = access == 0 ? KEY_READ : access;
    ::HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExW(ToWindows(key), Wide(subKey), options, desired, &opened);
    *result = status == ERROR_SUCCESS ? Handle<HKEY>(opened) : nullptr;
    return status;
}

long RegCloseKey(HKEY key) { return ::RegCloseKey(ToWindows(key)); }

long RegQueryValueEx(HKEY key, const char16_t* valueName, std::uint32_t* reserved,
                     std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
    (void)reserved;
    // Read into a buffer of our own first: Windows may leave a partial copy behind when the value
    // does not fit, and does not promise a terminated string, where callers are promised both.
    DWORD valueType = 0;
    DWORD needed = 0;
    LONG status = ::RegQueryValueExW(ToWindows(key), Wide(valueName), nullptr, &valueType,
                                     nullptr, &needed);
    if (status != ERROR_SUCCESS) return status;
    std::vector<std::uint8_t> value(needed + 2 * sizeof(wchar_t));
    DWORD got = needed;
    status = ::RegQueryValueExW(ToWindows(key), Wide(valueName), nullptr, &valueType,
                                value.data(), &got);
    if (status != ERROR_SUCCESS) return status;
    value.resize(got);
    if (valueType == REG_SZ || valueType == REG_EXPAND_SZ) {
        // Keep exactly one terminating 0 unit, adding one when the stored value has none.
        if (value.size() % 2 != 0) value.push_back(0);
        const bool terminated =
            value.size() >= 2 && value[value.size() - 1] == 0 && value[value.size() - 2] == 0;
        if (!terminated) value.insert(value.end(), {0, 0});
    }
    if (type != nullptr) *type = valueType;
    if (size == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    const std::uint32_t capacity = *size;
    *size = static_cast<std::uint32_t>(value.size());
    if (data == nullptr) return ERROR_SUCCESS;
    if (value.size() > capacity) return 234;  // more data; nothing copied
    std::copy(value.begin(), value.end(), data);
    return ERROR_SUCCESS;
}

long RegistryGetDWORD(HKEY root, const char16_t* subKey, const char16_t* valueName,
                      std::uint32_t* value) {
    DWORD read = 0;
    DWORD size = sizeof(read);
    const LONG status = ::RegGetValueW(ToWindows(root), Wide(subKey), Wide(valueName),
                                       RRF_RT_REG_DWORD, nullptr, &read, &size);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    if (value != nullptr) *value = static_cast<std::uint32_t>(read);
    return 0;
}

}  // namespace plat
