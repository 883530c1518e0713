#!/usr/bin/env bash
# Checks that the DLL exports exactly DoStartupAnimation and DoShutdownAnimation under their
# plain names, and that it needs no DLL but the system's own.
#   check-exports.sh bootreel.dll
set -euo pipefail
dll=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
dump=$("$objdump" -p "$dll")

# The export name table: lines "[ordinal] name" after "[Ordinal/Name Pointer] Table".
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\([^[:space:]]*\).*/\1/p' | sort)
expected=$(printf 'DoShutdownAnimation\nDoStartupAnimation\n')
if [ "$exports" != "$expected" ]; then
    echo "exports of $dll are not exactly the two entry points:" >&2
    printf '%s\n' "$exports" >&2
    exit 1
fi

# Imported DLLs: only those that come with Windows.
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|WINMM|SHLWAPI|msvcrt|api-ms-win-.*)\.dll$'
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
bad=$(printf '%s\n' "$imports" | grep -Eiv "$allowed" || true)
if [ -n "$bad" ]; then
    echo "$dll needs DLLs that are not part of the system:" >&2
    printf '%s\n' "$bad" >&2
    exit 1
fi
echo "exports: $(echo $exports); imports: $(echo $imports)"
