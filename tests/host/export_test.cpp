// The shared library as a caller loads it: it loads, resolves both entry points by their plain
// names, runs a call that returns at once (no events) and unloads. The export table itself is
// checked by check_exports.cmake.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "platform/types.h"

#ifndef BOOTREEL_LIBRARY_PATH
#error "BOOTREEL_LIBRARY_PATH names the built shared library"
#endif

namespace {

using EntryPoint = void (*)(plat::HWND, plat::HANDLE, plat::HANDLE);

TEST(SharedLibrary, LoadsRunsAnEntryPointAndUnloads) {
    // On this system the library carries its own copy of the simulated device, whose
    // process-wide tables live until the process ends; the library therefore stays mapped after
    // dlclose (its unload hook runs at exit), so that those tables stay reachable.
    void* library = dlopen(BOOTREEL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(library, nullptr) << dlerror();
    auto startup = reinterpret_cast<EntryPoint>(dlsym(library, "DoStartupAnimation"));
    auto shutdown = reinterpret_cast<EntryPoint>(dlsym(library, "DoShutdownAnimation"));
    ASSERT_NE(startup, nullptr);
    ASSERT_NE(shutdown, nullptr);
    startup(nullptr, nullptr, nullptr);
    shutdown(nullptr, nullptr, nullptr);
    EXPECT_EQ(dlclose(library), 0);
}

}  // namespace
