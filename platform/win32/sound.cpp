// Sound over winmm.
#include "platform/win32/backend.h"

namespace plat {

using win32::Handle;

bool PlaySound(const char16_t* sound, HMODULE module, std::uint32_t flags) {
    if ((flags & SND_FILENAME) != 0 && sound != nullptr) {
        const std::wstring path = win32::DevicePath(sound);
        return ::PlaySoundW(path.c_str(), Handle<::HMODULE>(module), flags) != FALSE;
    }
    return ::PlaySoundW(win32::Wide(sound), Handle<::HMODULE>(module), flags) != FALSE;
}

bool sndPlaySound(const char16_t* path, std::uint32_t flags) {
    if (path == nullptr) return false;
    const std::wstring windowsPath = win32::DevicePath(path);
    return ::sndPlaySoundW(windowsPath.c_str(), flags) != FALSE;
}

}  // namespace plat
