#!/usr/bin/env bash
# The README's first command on a fresh Debian 12, as a new user runs it.
#
# Makes a minimal Debian 12 (bookworm) with mmdebstrap from the apt sources this machine is
# configured with, with what the project's machines come with (GoogleTest, GoogleMock, Google
# Benchmark, clang) and nothing of what the previewer needs (no compiler of its own choosing,
# no CMake, no giflib, none of its libraries), copies the checkout's files into it (what a clean
# clone has, with uncommitted changes to them), and runs `scripts/preview.sh` there as root in
# a chroot. It must exit 0 and write the sample's report.html, recording.mp4,
# contact-sheet.png, timeline.json and frames.
#
# The fresh system, its mounts and its processes live in a mount and PID namespace of their own
# (the system on a tmpfs), so that nothing is left mounted, running or on disk however the run
# ends; what else it writes under build/first-run/run/ is removed on every exit path,
# interrupted too. Kept between runs under build/first-run/: the base system as a tarball
# (remade when its recipe changes or after a week) and apt's downloaded packages, so that a
# second run downloads almost nothing. A fresh clone builds both.
#
# Needs root, mmdebstrap and the Debian mirrors (scripts/deps.sh installs mmdebstrap).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
# Messages go to the script's own standard error (fd 4) also from a trap that runs while a
# command's output is redirected to a log.
exec 4>&2
say() { echo "first-run: $*" >&4; }
if [ "$(id -u)" -ne 0 ]; then
    say "needs root (it builds a Debian system and runs a chroot)"
    exit 1
fi

work="$root/build/first-run"
cache="$work/apt-archives"   # apt's downloaded .deb files, shared by every run
mkdir -p "$cache/partial"
# One run at a time per checkout. The lock is inherited by everything the run starts, so it
# stays held while anything of an earlier run that was killed outright still runs.
exec 9>"$work/lock"
if ! flock -n 9; then
    say "another run in this checkout (or what is left of a killed one) is still going"
    exit 1
fi

# What the project's machines have besides a minimal system; deliberately none of the
# previewer's packages (scripts/deps.sh --preview must bring those).
preinstalled=libgtest-dev,libgmock-dev,libbenchmark-dev,clang
# This machine's apt sources (the files apt itself reads).
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    if [ -s "$f" ] && grep -qv '^[[:space:]]*\(#\|$\)' "$f"; then
        sources+=("$f")
    fi
done
if [ ${#sources[@]} -eq 0 ]; then
    say "this machine has no apt sources to build the system from"
    exit 1
fi
recipe=$({ echo "bookworm minbase $preinstalled"; cat "${sources[@]}"; } | sha256sum | cut -c1-16)
base="$work/base-$recipe.tar"

run="$work/run"     # this run's fresh system and temporary files
ns_pid=""           # the namespace that runs mmdebstrap or the chroot
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    if [ -n "$ns_pid" ] && kill -0 "$ns_pid" 2>/dev/null; then
        # Killing the namespace's first process ends every process in it and so every mount.
        local first
        first=$(pgrep -P "$ns_pid" || true)
        kill -KILL "${first:-$ns_pid}" 2>/dev/null || true
        wait "$ns_pid" 2>/dev/null || true
    fi
    # The namespaces keep their mounts to themselves; make sure before removing anything.
    if findmnt -rn -o TARGET | grep -q "^$run/"; then
        say "mounts remain under $run; leaving it for you to look at"
        exit 1
    fi
    rm -rf --one-file-system "$run" "$work"/base-*.tar.new
    exit "$status"
}
trap cleanup EXIT
trap 'say interrupted; exit 130' INT
trap 'say terminated; exit 143' TERM

# Runs a command in fresh mount and PID namespaces, in the background so that a signal to this
# script is handled at once (bash runs traps only between commands).
in_namespace() {
    unshare --mount --pid --fork --kill-child -- "$@" &
    ns_pid=$!
    local status=0
    wait "$ns_pid" || status=$?
    ns_pid=""
    return "$status"
}

started=$(date +%s)
rm -rf --one-file-system "$run"   # what a run killed outright left
mkdir -p "$run/tmp"

# The base system, made once per recipe and week. mmdebstrap takes the packages it already
# downloaded from the cache and leaves the new ones there.
find "$work" -maxdepth 1 -name 'base-*.tar' \( ! -name "base-$recipe.tar" -o -mtime +7 \) -delete
if [ ! -f "$base" ]; then
    say "making a minimal Debian 12 with ${preinstalled//,/, } (once per machine) ..."
    # shellcheck disable=SC2016  # the hooks' $1 is mmdebstrap's, not ours
    if ! TMPDIR="$run/tmp" in_namespace mmdebstrap --quiet --mode=root --format=tar --variant=minbase \
            --include="$preinstalled" --skip=cleanup/apt/lists \
            --skip=download/empty --skip=essential/unlink \
            --setup-hook='mkdir -p "$1"/var/cache/apt/archives' \
            --setup-hook="sync-in $cache /var/cache/apt/archives/" \
            --customize-hook="sync-out /var/cache/apt/archives $cache" \
            bookworm "$base.new" "${sources[@]}" >"$work/mmdebstrap.log" 2>&1; then
        say "mmdebstrap failed:"
        tail -n 30 "$work/mmdebstrap.log" >&2
        exit 1
    fi
    mv "$base.new" "$base"
fi
base_done=$(date +%s)

# The fresh system lives on a tmpfs of the namespace: unpacking it is quick, and it is gone
# the moment the namespace ends, however the run ends. Only the sample's preview is copied out.
say "a fresh Debian 12 with the checkout's files in /root/bootreel, running scripts/preview.sh" \
    "there as root (log: build/first-run/preview.log) ..."
mkdir -p "$run/system"
status=0
# shellcheck disable=SC2016  # expanded by the shell in the namespace
in_namespace /bin/bash -c '
    set -euo pipefail
    system=$1 cache=$2 base=$3 out=$4
    mount -t tmpfs -o mode=0755 first-run "$system"
    tar -C "$system" -xf "$base"
    mkdir -p "$system/root/bootreel"
    # What a clone has: the tracked files as they are now (one deleted but not yet committed
    # is simply not there).
    git ls-files -z | tar --null --no-recursion --ignore-failed-read -T - -cf - 2>/dev/null |
        tar -C "$system/root/bootreel" -xf -
    cp -L /etc/resolv.conf "$system/etc/resolv.conf"
    mount -t proc proc "$system/proc"
    mount --bind /dev "$system/dev"
    mount --bind /dev/pts "$system/dev/pts"
    mount --bind "$cache" "$system/var/cache/apt/archives"
    echo "first-run: system ready after $SECONDS s" >&3
    chroot "$system" /usr/bin/env -i HOME=/root LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c "cd /root/bootreel && scripts/preview.sh"
    cp -r "$system/root/bootreel/build/preview" "$out"
' first-run "$run/system" "$cache" "$base" "$run/preview" 3>&2 >"$work/preview.log" 2>&1 ||
    status=$?
finished=$(date +%s)
if [ "$status" -ne 0 ]; then
    say "scripts/preview.sh failed on a fresh Debian 12 (exit $status); the end of its output:"
    tail -n 40 "$work/preview.log" >&2
    exit 1
fi

# Every file the README promises, each of its kind, and a frame file for every frame shown.
out="$run/preview"
python3 - "$out" <<'PY'
import json, os, sys
out = sys.argv[1]
def starts(name, magic, at=0):
    path = os.path.join(out, name)
    if not os.path.isfile(path):
        sys.exit(f"first-run: {name} was not written")
    with open(path, "rb") as f:
        head = f.read(64)
    if head[at:at + len(magic)] != magic:
        sys.exit(f"first-run: {name} is not what its name says (starts {head[:16]!r})")
starts("report.html", b"<!DOCTYPE html>")
starts("recording.mp4", b"ftyp", 4)
starts("contact-sheet.png", b"\x89PNG\r\n\x1a\n")
starts("timeline.json", b"{")
with open(os.path.join(out, "timeline.json")) as f:
    frames = json.load(f)["frames"]
if not frames:
    sys.exit("first-run: timeline.json lists no frames")
for frame in frames:
    starts(frame["file"], b"\x89PNG\r\n\x1a\n")
written = sorted(n for n in os.listdir(out) if n.startswith("frame-"))
if written != sorted(frame["file"] for frame in frames):
    sys.exit(f"first-run: {len(written)} frame files for {len(frames)} frames in timeline.json")
print(f"first-run: report.html, recording.mp4, contact-sheet.png, timeline.json and "
      f"{len(frames)} frames written", file=sys.stderr)
PY
say "passed in $((finished - started)) s (base system $((base_done - started)) s," \
    "the first command $((finished - base_done)) s)"
