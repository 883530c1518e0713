# Cross build of the Windows binaries with Debian's MinGW-w64 (package g++-mingw-w64-x86-64).
# The posix thread variant of the compiler is used because the tests use std::thread and
# std::mutex; its thread library (winpthread) and the GCC runtime are linked statically so the
# binaries need nothing but the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BOOTREEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BOOTREEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BOOTREEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BOOTREEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BOOTREEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine through a wrapper that bounds every run in time.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/win32/wine-run.sh)

# GoogleTest has no MinGW package: a find module of our own builds it from Debian's sources.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/mingw)
