// Tunelet: plays the device's start-up sound once and exits. It has no window, no options and
// no configuration; a sound file that is missing or cannot be played is reported in a message
// box. The program entries (main_sim.cpp, main_win32.cpp) only call TuneletMain.
#pragma once

#include "platform/types.h"

// The whole program. The arguments of the windowed-program entry are accepted and ignored.
// Always returns 0, whether or not the sound played.
int TuneletMain(plat::HMODULE instance, plat::HMODULE previous, char16_t* commandLine,
                int showCommand);
