// Library life on ELF systems: when the shared library is loaded into a process it records its
// own module (where message texts are looked up) and allocates the error scopes' thread-local
// slot; when it is unloaded it frees the slot. The Windows build does the same from its
// library entry point in a source file of its own.
#include "decode/error.h"
#include "platform/module.h"

namespace {

const char kModuleMarker = 0;  // any address inside this library identifies its module

__attribute__((constructor)) void AttachOnLoad() {
    try {
        br::AttachLibrary(plat::GetModuleOfAddress(&kModuleMarker));
    } catch (...) {
    }
}

__attribute__((destructor)) void DetachOnUnload() {
    try {
        br::DetachLibrary();
    } catch (...) {
    }
}

}  // namespace
