#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quaverly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
exec build/src/app/quaverly "$@"
