# Cross build for the devices' 32-bit ARM processors (ARMv7, hard-float ABI) with Debian's
# g++-arm-linux-gnueabihf, against the simulated device. The ARM builds of the libraries the
# tests need come from Debian's multiarch packages (scripts/arm-deps.sh) and live under
# /usr/lib/arm-linux-gnueabihf, which CMake searches by the library architecture below.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(BOOTREEL_ARM_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${BOOTREEL_ARM_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${BOOTREEL_ARM_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${BOOTREEL_ARM_TRIPLET})

# Libraries and packages of the target only; programs (nm, the emulator) of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${BOOTREEL_ARM_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under user-mode emulation. They load Debian's armhf run-time libraries
# (libc6, libstdc++6, libubsan1:armhf, installed by scripts/arm-deps.sh) through the armhf
# loader in /lib, not the cross compiler's copies: the cross packages' C library may be an older
# release than the multiarch one that the ARM packages of giflib pull in, and a loader of one
# release with the C library of another crashes when a thread starts.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm)

# The armhf preset compiles in ARM state (-marm) rather than Debian's default Thumb-2: Thumb
# functions have odd addresses, and GCC's UndefinedBehaviorSanitizer reports every reference
# bound to such a function (std::thread, std::function) as misaligned. In ARM state its
# alignment checks stay on and report only real faults.
