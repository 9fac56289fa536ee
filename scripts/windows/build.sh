#!/usr/bin/env bash
# Cross-builds Quaverly for 64-bit Windows: scripts/windows/build.sh [DIR] [cmake options...]
# [--target NAME]... (DIR defaults to build-win). The libraries and Qt come from
# scripts/windows/deps.sh (cached after its first run); the compiler is MinGW-w64's, through
# ccache. Optimised as the Linux build is (-O2), without debug information.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build-win
if [[ $# -gt 0 && $1 != -* ]]; then
    dir=$1
    shift
fi
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
env_lines=$(scripts/windows/deps.sh --print-env)
eval "$env_lines"
launcher=()
command -v ccache >/dev/null &&
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
        -DCMAKE_PREFIX_PATH="$QT_WIN_PREFIX" -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DQUAVERLY_BUILD_BENCH=OFF \
        "${launcher[@]}" "${options[@]}" >/dev/null
elif [[ ${#options[@]} -gt 0 ]]; then
    cmake -S . -B "$dir" "${options[@]}" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
