#!/bin/bash
# Cross-builds Qt 6.4.2 qtbase (Core, Gui, Widgets, Concurrent, Test; no OpenGL, network, SQL, D-Bus)
# for 64-bit Windows with MinGW-w64 on Debian 12, from Debian's own source package.
# Measured on a 2-core machine: about 20-25 min. Result: PREFIX (68 MB stripped, 11 MB as tar.xz).
# A Qt Widgets + QtConcurrent program built against it runs under wine64 8.0.
# scripts/windows/deps.sh calls it when no ready-made Qt tarball is at hand; the source
# (qt6-base_6.4.2+dfsg.orig.tar.xz) is fetched unless WORKDIR holds it already.
# Usage: build-qt.sh WORKDIR PREFIX
set -euo pipefail
work=$1; prefix=$2; here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work" && cd "$work"
SUDO=(); [[ $(id -u) -ne 0 ]] && SUDO=(sudo)
need=(dpkg-dev g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 qt6-base-dev qt6-base-dev-tools cmake ninja-build)
missing=()
for p in "${need[@]}"; do
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" == "install ok installed" ]] || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# deb-src for one look-up, then back as it was (debian-source.sh)
[[ -f qt6-base_6.4.2+dfsg.orig.tar.xz ]] || "$here/debian-source.sh" qt6-base=6.4.2+dfsg-10
tar xf qt6-base_6.4.2+dfsg.orig.tar.xz
q=qtbase-everywhere-src-6.4.2
# 6.4.2 asks for an OpenGL context in the Windows plugin even when OpenGL is off
sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' $q/src/plugins/platforms/windows/qwindowswindow.cpp
export QT_WIN_PREFIX=$prefix
cmake -S $q -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/../../cmake/mingw-w64.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=ON -DFEATURE_testlib=ON -DFEATURE_zstd=OFF \
  -DFEATURE_tabletevent=OFF -DFEATURE_icu=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
# (Debian's +dfsg source lacks the tablet header wintab.h: tablet events stay off.)
cmake --build build --parallel "$(nproc)"
cmake --install build
x86_64-w64-mingw32-strip --strip-unneeded "$prefix"/bin/*.dll "$prefix"/plugins/*/*.dll
