#!/usr/bin/env bash
# Builds the Debian package: scripts/package.sh [OUTDIR] [--build-dir DIR]
# Configures and builds a Release tree without tests and benchmarks (default build-package/),
# makes quaverly_VERSION_ARCH.deb with CPack in OUTDIR (default dist/) and prints its path.
set -euo pipefail
out=dist
dir=build-package
while [[ $# -gt 0 ]]; do
    case $1 in
        --build-dir)
            [[ $# -ge 2 ]] || { echo "usage: $0 [OUTDIR] [--build-dir DIR]" >&2; exit 2; }
            dir=$2
            shift 2
            ;;
        -h | --help)
            echo "usage: $0 [OUTDIR] [--build-dir DIR]"
            exit 0
            ;;
        *)
            out=$1
            shift
            ;;
    esac
done
# Both are taken from where the script is started, the defaults from the source tree.
top=$(cd "$(dirname "$0")/.." && pwd)
[[ $out == /* || $out == dist ]] || out=$PWD/$out
[[ $dir == /* || $dir == build-package ]] || dir=$PWD/$dir
cd "$top"

scripts/deps.sh
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUAVERLY_BUILD_TESTS=OFF -DQUAVERLY_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
(cd "$dir" && cpack -G DEB -B "$staging") >"$staging/cpack.log" 2>&1 ||
    { cat "$staging/cpack.log" >&2; exit 1; }
mkdir -p "$out"
debs=("$staging"/quaverly_*.deb)
mv "${debs[0]}" "$out/"
realpath "$out/$(basename "${debs[0]}")"
