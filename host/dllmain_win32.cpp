// Library life on Windows: the DLL entry point records the library's own module (where message
// texts are looked up) and allocates the error scopes' thread-local slot when a process loads
// the library, and frees the slot when the process unloads it.
// clang-format off
#include <windows.h>
#include "platform/win32/undef_macros.h"
// clang-format on

#include "decode/error.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    try {
        switch (reason) {
            case DLL_PROCESS_ATTACH:
                // Nothing of the library needs to hear of each thread that starts or ends.
                ::DisableThreadLibraryCalls(instance);
                br::AttachLibrary(reinterpret_cast<plat::HMODULE>(instance));
                break;
            case DLL_PROCESS_DETACH:
                br::DetachLibrary();
                break;
            default:
                break;
        }
    } catch (...) {
    }
    return TRUE;
}
