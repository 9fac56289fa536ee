#!/usr/bin/env bash
# Configures and builds one build directory: scripts/build.sh DIR [cmake options...]
# [--target NAME]... Options given for a directory configured before are applied to it again;
# without --target everything is built. Compiles through ccache when it is there, with paths
# taken relative to the tree, so that a clone in another folder finds what an earlier one built.
# ccache takes the precompiled headers (cmake/Precompiled.cmake) only when told that their time
# stamps and their macros may be trusted: the build makes them, their content is what is hashed.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:+$CCACHE_SLOPPINESS,}pch_defines,time_macros,include_file_mtime,include_file_ctime
dir=$1
shift
options=()
targets=()
while [[ $# -gt 0 ]]; do
    if [[ $1 == --target ]]; then
        targets+=(--target "$2")
        shift 2
    else
        options+=("$1")
        shift
    fi
done
if command -v ccache >/dev/null && [[ " ${options[*]} " != *_COMPILER_LAUNCHER=* ]]; then
    options=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "${options[@]}")
fi
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    cmake -S . -B "$dir" -G Ninja "${options[@]}" >/dev/null
elif [[ ${#options[@]} -gt 0 ]]; then
    cmake -S . -B "$dir" "${options[@]}" >/dev/null
fi
if ! cmake --build "$dir" -j "$(nproc)" "${targets[@]}"; then
    # Qt's generated moc files can go stale when Q_OBJECT classes are added to an existing
    # build directory; regenerate them once before giving up.
    echo "build failed; regenerating Qt's generated files and trying once more" >&2
    find "$dir" -type d -name '*_autogen' -prune -exec rm -rf {} +
    cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
fi
