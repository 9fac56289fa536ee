#!/usr/bin/env bash
# clang-formats the tracked C++ sources (never anything else).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i
