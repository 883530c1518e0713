// Configuration and sound of a show (see host.h): the registry reads and the two ways of
// playing the sound.
#include <cstring>

#include "host/host.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "platform/thread.h"

namespace br {

namespace {

const char16_t kStartupKey[] = u"Software\\Korvel\\Startup";
const char16_t kShutdownKey[] = u"Software\\Korvel\\Shutdown";
const char16_t kSoundLevelKey[] = u"ControlPanel\\SoundCategories\\System";
constexpr std::size_t kSoundThreadStack = 65536;

// Reads one string value into a path field. The value is used only when it ends within the
// field's 260 characters; anything longer (or a stored value without its terminating zero)
// leaves the path as it is, empty.
void ReadPathValue(plat::HKEY key, const char16_t* name, char16_t (&path)[kPathCapacity]) {
    char16_t buffer[kPathCapacity] = {};
    std::uint32_t type = plat::REG_SZ;
    std::uint32_t size = sizeof(buffer);
    if (plat::RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<std::uint8_t*>(buffer),
                              &size) != plat::ERROR_SUCCESS) {
        return;
    }
    std::size_t length = 0;
    while (length < kPathCapacity && buffer[length] != u'\0') {
        ++length;
    }
    if (length == kPathCapacity) {
        return;
    }
    std::memcpy(path, buffer, (length + 1) * sizeof(char16_t));
}

}  // namespace

void ReadAnimationConfig(AnimationMode mode) {
    HostState& host = Host();
    std::memset(host.imagePath, 0, sizeof(host.imagePath));
    std::memset(host.soundPath, 0, sizeof(host.soundPath));
    const char16_t* keyPath = mode == AnimationMode::Shutdown ? kShutdownKey : kStartupKey;
    plat::HKEY key = nullptr;
    if (plat::RegOpenKeyEx(plat::HKEY_ROOT_LOCAL_MACHINE, keyPath, 0, 0, &key) !=
        plat::ERROR_SUCCESS) {
        return;
    }
    ReadPathValue(key, u"Image", host.imagePath);
    ReadPathValue(key, u"WAV", host.soundPath);
    plat::RegCloseKey(key);
}

std::uint32_t ReadSoundLevel() {
    std::uint32_t level = 0;
    plat::RegistryGetDWORD(plat::HKEY_ROOT_CURRENT_USER, kSoundLevelKey, u"InitVol", &level);
    return level;
}

void StartStartupSound() {
    plat::sndPlaySound(Host().soundPath, plat::SND_ASYNC);
}

plat::HANDLE StartShutdownSound() {
    return plat::CreateThread(nullptr, kSoundThreadStack, ShutdownSoundThread, nullptr,
                              plat::STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}

std::uint32_t PLAT_CALLBACK ShutdownSoundThread(void* /*unused*/) {
    const HostState& host = Host();
    plat::sndPlaySound(host.soundPath, plat::SND_SYNC);
    if (host.shutdownDoneEvent != nullptr) {
        plat::SetEvent(host.shutdownDoneEvent);
    }
    return 1;
}

}  // namespace br
