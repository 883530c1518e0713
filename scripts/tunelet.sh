#!/usr/bin/env bash
# Builds what is missing and plays the start-up sound with Tunelet on the
# simulated device (a device root with a generated \Windows\startup.wav under build/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target Tunelet -j "$(nproc)"
root=build/default/device-root
mkdir -p "$root/Windows"
if [ ! -f "$root/Windows/startup.wav" ]; then
    # 200 ms of silence, 8-bit mono PCM at 8000 Hz.
    python3 - "$root/Windows/startup.wav" <<'PY'
import struct, sys
data = bytes([128]) * 1600
hdr = b'RIFF' + struct.pack('<I', 36 + len(data)) + b'WAVE'
fmt = b'fmt ' + struct.pack('<IHHIIHH', 16, 1, 1, 8000, 8000, 1, 8)
open(sys.argv[1], 'wb').write(hdr + fmt + b'data' + struct.pack('<I', len(data)) + data)
PY
fi
BOOTREEL_DEVICE_ROOT="$root" build/default/tunelet/Tunelet
echo "Tunelet played \\Windows\\startup.wav from $root"
