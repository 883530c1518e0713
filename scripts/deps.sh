#!/usr/bin/env bash
# Installs, quietly and only when missing, the Debian packages that building and testing need.
# Usage: scripts/deps.sh [extra package ...]
#        scripts/deps.sh --preview [extra package ...]   only what bootreel-preview needs
set -euo pipefail
preview=(
    cmake ninja-build g++ pkg-config
    libpng-dev libwebp-dev libsdl2-dev nlohmann-json3-dev libcli11-dev
    libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libcairo2-dev
    libimagequant-dev libgif-dev  # make: quantising and writing GIF files
    fonts-dejavu-core
)
if [ "${1:-}" = --preview ]; then
    shift
    packages=("${preview[@]}" "$@")
else
    packages=(
        "${preview[@]}" clang libclang-rt-14-dev
        libgtest-dev libgmock-dev libbenchmark-dev libgif-dev
        xvfb x11-apps gdk-pixbuf-tests
        chromium  # the test that opens the previewer's report.html
        mmdebstrap python3 procps  # the fresh Debian 12 of scripts/first-run-test.sh
        ffmpeg gifsicle imagemagick  # make's tests and its benchmark against the usual recipes
        "$@"
    )
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "deps: missing packages (run as root to install): ${missing[*]}" >&2
        exit 1
    fi
    echo "deps: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
