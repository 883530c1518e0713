// Tunelet's entry as a Windows program: the windowed-program entry hands its arguments, which
// the program ignores, to TuneletMain. The narrow entry is used (a wide one needs a linker
// switch of its own) and the command line is passed in its wide form.
// clang-format off
#include <windows.h>
#include "platform/win32/undef_macros.h"
// clang-format on

#include "tunelet/tunelet.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR /*commandLine*/,
                   int showCommand) {
    return TuneletMain(reinterpret_cast<plat::HMODULE>(instance),
                       reinterpret_cast<plat::HMODULE>(previous),
                       reinterpret_cast<char16_t*>(::GetCommandLineW()), showCommand);
}
