#!/usr/bin/env bash
# Cross-builds Quaverly for 64-bit Windows: scripts/windows/build.sh [DIR] [cmake options...]
# [--target NAME]... (DIR defaults to build-win), through scripts/build.sh. The libraries and Qt
# come from scripts/windows/deps.sh (cached after its first run); the compiler is MinGW-w64's,
# through ccache when it is there (scripts/build.sh). Optimised as the Linux build is (-O2), without debug
# information.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=build-win
if [[ $# -gt 0 && $1 != -* ]]; then
    dir=$1
    shift
fi
env_lines=$(scripts/windows/deps.sh --print-env)
eval "$env_lines"
windows=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_PREFIX_PATH="$QT_WIN_PREFIX"
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DQUAVERLY_BUILD_BENCH=OFF)
exec scripts/build.sh "$dir" "${windows[@]}" "$@"
