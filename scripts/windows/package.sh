#!/usr/bin/env bash
# Makes the Windows packages: scripts/windows/package.sh [OUTDIR] [--build-dir DIR]
# Builds the Windows build tree DIR (default build-win/, configured for Windows already),
# makes Quaverly-VERSION-win64.exe (the installer, with NSIS's makensis) and
# Quaverly-VERSION-win64.zip (the portable folder) with CPack in OUTDIR (default dist/) and prints
# their paths.
set -euo pipefail
usage="usage: $0 [OUTDIR] [--build-dir DIR]"
out=dist
dir=build-win
while [[ $# -gt 0 ]]; do
    case $1 in
        --build-dir)
            [[ $# -ge 2 ]] || { echo "$usage" >&2; exit 2; }
            dir=$2
            shift 2
            ;;
        -h | --help)
            echo "$usage"
            exit 0
            ;;
        *)
            out=$1
            shift
            ;;
    esac
done
# Both are taken from where the script is started, the defaults from the source tree.
top=$(cd "$(dirname "$0")/../.." && pwd)
[[ $out == /* || $out == dist ]] || out=$PWD/$out
[[ $dir == /* || $dir == build-win ]] || dir=$PWD/$dir
cd "$top"

cat "$dir"/CMakeFiles/*/CMakeSystem.cmake 2>/dev/null | grep -q 'CMAKE_SYSTEM_NAME "Windows"' ||
    { echo "$dir is not a build tree configured for Windows" >&2; exit 1; }
command -v makensis >/dev/null || { echo "makensis not found (Debian package nsis)" >&2; exit 1; }
cmake --build "$dir"
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
(cd "$dir" && cpack -G "NSIS;ZIP" -B "$staging") >"$staging/cpack.log" 2>&1 ||
    { cat "$staging/cpack.log" >&2; exit 1; }
mkdir -p "$out"
for package in "$staging"/Quaverly-*-win64.exe "$staging"/Quaverly-*-win64.zip; do
    [[ -f $package ]] || { cat "$staging/cpack.log" >&2; echo "no $package" >&2; exit 1; }
    mv "$package" "$out/"
    realpath "$out/$(basename "$package")"
done
