#!/usr/bin/env bash
# Installs, only when missing, what the 32-bit ARM build and its test run need: the cross
# compiler and its run-time libraries, qemu-user, and the ARM (armhf) builds of the libraries the
# tests link against, from Debian's multiarch archive (the armhf architecture is added to dpkg
# first; this needs root).
set -euo pipefail
cd "$(dirname "$0")/.."

# The build machine's own tools first, so that the armhf packages below find cmake and ninja.
scripts/deps.sh g++-arm-linux-gnueabihf libubsan1-armhf-cross qemu-user

# The test programs' libraries, and the run-time libraries they load under the emulator.
armhf=(libgtest-dev:armhf libgif-dev:armhf libstdc++6:armhf libubsan1:armhf)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${armhf[@]}"; do
    installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "arm-deps: missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    echo "arm-deps: adding the armhf architecture to dpkg" >&2
    dpkg --add-architecture armhf
fi
echo "arm-deps: installing ${missing[*]}" >&2
# Other package installs may hold the lock for a while: wait for it rather than fail.
apt-get -o DPkg::Lock::Timeout=600 update -qq
apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
