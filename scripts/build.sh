#!/usr/bin/env bash
# Configures and builds one build directory: scripts/build.sh DIR [cmake options...]
# Options given for a directory configured before are applied to it again.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
elif [[ $# -gt 0 ]]; then
    cmake -S . -B "$dir" "$@" >/dev/null
fi
if ! cmake --build "$dir" -j "$(nproc)"; then
    # Qt's generated moc files can go stale when Q_OBJECT classes are added to an existing
    # build directory; regenerate them once before giving up.
    echo "build failed; regenerating Qt's generated files and trying once more" >&2
    find "$dir" -type d -name '*_autogen' -prune -exec rm -rf {} +
    cmake --build "$dir" -j "$(nproc)"
fi
