// Tunelet's behaviour; see tunelet.h.
#include "tunelet/tunelet.h"

#include "platform/sound.h"
#include "platform/window.h"

namespace {

// The sound is named by its file path, played synchronously, and a missing file must not be
// replaced by the system's default sound: the user should hear the start-up sound or nothing.
constexpr std::uint32_t kPlayFlags = plat::SND_FILENAME | plat::SND_NODEFAULT;  // 0x20002
constexpr std::uint32_t kMessageBoxOk = 0;

}  // namespace

int TuneletMain(plat::HMODULE /*instance*/, plat::HMODULE /*previous*/, char16_t* /*commandLine*/,
                int /*showCommand*/) {
    if (!plat::PlaySound(u"\\Windows\\startup.wav", nullptr, kPlayFlags)) {
        plat::MessageBox(nullptr, u"Cannot find startup.wav", u"Tunelet 0.1", kMessageBoxOk);
    }
    return 0;
}
