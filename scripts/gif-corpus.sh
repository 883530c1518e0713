#!/usr/bin/env bash
# Fetches the real GIF files that bench_gif_real decodes: the Debian packages named in
# bench/gif_corpus.txt are downloaded (apt-get download, no installation) and only the listed
# files are unpacked from each (dpkg-deb --fsys-tarfile) into build/gif-corpus/<package>/,
# once; later runs reuse what is there. Prints the corpus folder. Nothing of it is committed:
# only the list of packages and paths is.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${GIF_CORPUS:-build/gif-corpus}
list=bench/gif_corpus.txt
mkdir -p "$corpus/debs"
mapfile -t packages < <(grep -v '^#' "$list" | awk 'NF {print $1}' | sort -u)
wanted=()
for p in "${packages[@]}"; do
    [ -e "$corpus/$p/.unpacked" ] || wanted+=("$p")
done
[ ${#wanted[@]} -eq 0 ] && { echo "$corpus"; exit 0; }
echo "gif-corpus: fetching ${#wanted[@]} packages" >&2
# apt-get download needs the package lists; refresh them once when they are missing.
apt-cache show "${wanted[0]}" >/dev/null 2>&1 || apt-get update -qq
(cd "$corpus/debs" && apt-get download -qq "${wanted[@]}" >/dev/null 2>&1) ||
    echo "gif-corpus: some packages could not be downloaded; their files are left out" >&2
for p in "${wanted[@]}"; do
    deb=$(ls "$corpus/debs/${p}"_*.deb 2>/dev/null | head -1)
    [ -n "$deb" ] || continue
    rm -rf "${corpus:?}/$p"
    mkdir -p "$corpus/$p"
    awk -v p="$p" '$1 == p {print "." $2}' "$list" >"$corpus/$p/.paths"
    # Files missing from a newer version of a package are reported by the benchmark.
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$corpus/$p" -T "$corpus/$p/.paths" \
        --ignore-failed-read 2>/dev/null || true
    touch "$corpus/$p/.unpacked"
    rm -f "$deb"
done
echo "$corpus"
