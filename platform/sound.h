// Sound: playing a WAV file by path.
#pragma once

#include "platform/types.h"

namespace plat {

constexpr std::uint32_t SND_SYNC = 0x0;
constexpr std::uint32_t SND_ASYNC = 0x1;
constexpr std::uint32_t SND_NODEFAULT = 0x2;
constexpr std::uint32_t SND_FILENAME = 0x20000;

// Plays a sound. With SND_FILENAME `sound` is a file path; without it, a name of a system
// sound. SND_ASYNC returns at once while the sound plays; otherwise the call returns when the
// sound has ended. Without SND_NODEFAULT a sound that cannot be found plays the default sound.
// True when the sound played (or started).
bool PlaySound(const char16_t* sound, HMODULE module, std::uint32_t flags);

// Plays a sound file by path: flags 0 (SND_SYNC) or 1 (SND_ASYNC). True when it played.
bool sndPlaySound(const char16_t* path, std::uint32_t flags);

}  // namespace plat
