#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Quaverly need, when missing.
# Safe to run again: it does nothing when everything is there.
set -euo pipefail

PACKAGES=(
    g++ cmake ninja-build pkg-config ccache
    # the fuzz build (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes
    clang libclang-rt-dev
    qt6-base-dev libqt6svg6 qt6-svg-dev
    libmpg123-dev libsndfile1-dev libavformat-dev libavcodec-dev libavutil-dev libmp3lame-dev libsoxr-dev libpulse-dev libebur128-dev
    libtag1-dev
    libvorbis-dev libogg-dev libopusenc-dev libflac-dev
    libgtest-dev
    # disk faults injected by the tests: libfiu and its preloaded POSIX wrappers
    libfiu-dev fiu-utils
    # test peers, the private sound server and a display for screenshots
    pulseaudio pulseaudio-utils sox mpg123 lame ffmpeg flac opus-tools vorbis-tools xvfb fonts-dejavu-core
    # the Debian package (scripts/package.sh) and its checks (scripts/check-package.sh)
    dpkg-dev lintian appstream desktop-file-utils bash-completion man-db
)
if [[ "${1:-}" == "--bench" ]]; then
    PACKAGES+=(espeak-ng hyperfine)
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]]; then
        missing+=("$p")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}" >&2
SUDO=()
[[ $(id -u) -ne 0 ]] && SUDO=(sudo)
"${SUDO[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
