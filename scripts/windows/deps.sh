#!/usr/bin/env bash
# Makes the libraries the Windows build links against: cross-builds them with MinGW-w64 (posix
# threads) from Debian 12's own source packages into one prefix, and unpacks (or builds) Qt for
# MinGW beside it. Both are cached outside the tree, keyed by these scripts' content, so a second
# run costs seconds; a run cut short is redone.
# Usage: scripts/windows/deps.sh [--print-env]
# Prints on stdout only shell lines to eval (everything else goes to stderr):
#   export QUAVERLY_WIN_DEPS=...   the libraries (bin/*.dll, lib/*.dll.a, include/, lib/pkgconfig/)
#   export QT_WIN_PREFIX=...       Qt 6.4.2 for MinGW
# Environment: QUAVERLY_WIN_CACHE (default ~/.cache/quaverly-windows), QUAVERLY_QT_WIN_TARBALL (a
# ready-made Qt prefix as tar.xz; otherwise ../shared/windows/ beside the tree or /work/shared/windows/
# is looked at, and without one Qt is built from source, about 25 min).
set -euo pipefail
[[ ${1:-} == "" || ${1:-} == --print-env ]] || {
    sed -n '2,13s/^# \?//p' "$0" >&2
    exit 2
}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
toolchain=$top/cmake/mingw-w64.cmake
say() { echo "deps: $*" >&2; }

# --- Debian packages ---------------------------------------------------------------------------
PACKAGES=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
    nasm dpkg-dev cmake ninja-build pkg-config make patch python3 xz-utils ccache
    wine64 nsis librsvg2-bin
)
missing=()
for p in "${PACKAGES[@]}"; do
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" == "install ok installed" ]] ||
        missing+=("$p")
done
SUDO=()
[[ $(id -u) -ne 0 ]] && SUDO=(sudo)
if [[ ${#missing[@]} -gt 0 ]]; then
    say "installing ${missing[*]}"
    "${SUDO[@]}" apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >&2
fi

# --- Cache folders, keyed by content -----------------------------------------------------------
root=${QUAVERLY_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quaverly-windows}
mkdir -p "$root"
exec 9>"$root/.lock"
flock 9 # one run at a time per cache
key() { cat "$@" | sha256sum | cut -c1-12; }
deps=$root/deps-$(key "$0" "$here/debian-source.sh" "$here/deps-check.cpp" "$toolchain")

qt_tarball=${QUAVERLY_QT_WIN_TARBALL:-}
if [[ -n $qt_tarball && ! -f $qt_tarball ]]; then
    say "QUAVERLY_QT_WIN_TARBALL names no file: $qt_tarball"
    exit 1
fi
for t in "$top/../shared/windows/qt-6.4.2-mingw-w64-prefix.tar.xz" \
    /work/shared/windows/qt-6.4.2-mingw-w64-prefix.tar.xz; do
    [[ -n $qt_tarball || ! -f $t ]] || qt_tarball=$t
done
if [[ -n $qt_tarball ]]; then
    qt=$root/qt-$(sha256sum "$qt_tarball" | cut -c1-12)
else
    qt=$root/qt-src-$(key "$here/build-qt.sh" "$here/debian-source.sh" "$toolchain")
fi

print_env() {
    printf "export QUAVERLY_WIN_DEPS='%s'\nexport QT_WIN_PREFIX='%s'\n" "$deps/prefix" "$qt/prefix"
}
if [[ -f $deps/done && -f $qt/done ]]; then
    print_env
    exit 0
fi

# --- Building helpers --------------------------------------------------------------------------
host=x86_64-w64-mingw32
jobs=$(nproc)
cc=(x86_64-w64-mingw32-gcc-posix)
cxx=(x86_64-w64-mingw32-g++-posix)
launcher=()
if command -v ccache >/dev/null; then
    cc=(ccache "${cc[@]}") cxx=(ccache "${cxx[@]}") launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Built at one fixed place, whatever the key, so that ccache finds the same paths from run to run;
# the finished prefix moves to its keyed folder (everything in it is relocatable).
work=$root/build
prefix=$work/prefix
src=$work/src
logs=$work/logs
failed() {
    say "failed: $1 (log: $2)"
    tail -n 40 "$2" >&2
    exit 1
}
# run LOG COMMAND...: runs quietly into work/logs/LOG.log (without the cache's lock, which a
# lingering process such as wineserver would otherwise keep).
run() {
    local log=$logs/$1.log
    shift
    "$@" >>"$log" 2>&1 </dev/null 9>&- || failed "$*" "$log"
}
# unpack PACKAGE VERSION-GLOB [PATCH-TO-SKIP...]: unpacks the upstream tarball into src/PACKAGE
# and applies Debian's patches (security fixes among them), except those named, which touch only
# Debian's packaging, documentation or the build system (which would then need regenerating).
unpack() {
    local pkg=$1 ver=$2 orig d p
    shift 2
    orig=$(compgen -G "$work/dl/${pkg}_${ver}.orig.tar.[gbx]z*" | grep -v '\.asc$' | head -n1) ||
        failed "no upstream tarball of $pkg $ver came from the archive" "$logs/fetch.log"
    mkdir -p "$src/$pkg" "$prefix/licenses/$pkg"
    tar xf "$orig" -C "$src/$pkg" --strip-components=1
    find "$src/$pkg" -maxdepth 1 -type f \( -iname 'copying*' -o -iname 'licen[cs]e*' \) \
        -exec cp {} "$prefix/licenses/$pkg/" \;
    d=$(compgen -G "$work/dl/${pkg}_${ver}-*.debian.tar.xz" | head -n1) || {
        echo "$pkg: no Debian patches served, built as released" >>"$logs/patches.log"
        return 0
    }
    tar xf "$d" -C "$src/$pkg" debian/patches 2>/dev/null && [[ -f $src/$pkg/debian/patches/series ]] ||
        return 0
    while read -r p _; do
        [[ -n $p && $p != \#* ]] || continue
        if [[ " $* " == *" $p "* ]]; then
            echo "$pkg: skipped $p" >>"$logs/patches.log"
        else
            echo "$pkg: applied $p" >>"$logs/patches.log"
            run patches patch -d "$src/$pkg" -p1 -s -N -i "debian/patches/$p"
        fi
    done <"$src/$pkg/debian/patches/series"
}
# autotools NAME [configure options...]
autotools() {
    local name=$1
    shift
    (
        cd "$src/$name"
        run "$name" ./configure --host=$host --prefix="$prefix" --enable-shared --disable-static \
            --disable-dependency-tracking CC="${cc[*]}" CXX="${cxx[*]}" CFLAGS=-O2 CXXFLAGS=-O2 "$@"
        run "$name" make -j"$jobs"
        run "$name" make install
    )
}
# expect LOG FILE...: fails unless the prefix holds each (libtool quietly makes only a static
# library when a DLL cannot be linked).
expect() {
    local log=$logs/$1.log f
    shift
    for f in "$@"; do
        compgen -G "$prefix/$f" >/dev/null || failed "no $f was made" "$log"
    done
}
# cmake_project NAME [cmake options...]
cmake_project() {
    local name=$1
    shift
    run "$name" cmake -S "$src/$name" -B "$src/$name/_build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib "$@"
    run "$name" cmake --build "$src/$name/_build" -j "$jobs"
    run "$name" cmake --install "$src/$name/_build"
}

# --- The libraries -----------------------------------------------------------------------------
build_deps() {
    # runs cut short, under this key or an older one, are thrown away
    local d
    for d in "$root"/deps-* "$work"; do
        [[ -f $d/done ]] || rm -rf "$d"
    done
    mkdir -p "$work/dl" "$src" "$logs" "$prefix/bin" "$prefix/licenses"
    local start=$SECONDS
    say "fetching Debian's sources (apt-get source)"
    (cd "$work/dl" && run fetch "$here/debian-source.sh" mpg123 lame libogg libvorbis flac opus \
        libopusenc speex libsndfile libsoxr libebur128 ffmpeg taglib googletest)
    export QUAVERLY_WIN_DEPS=$prefix PKG_CONFIG_PATH='' \
        PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig
    # zlib (Debian's libz-mingw-w64) links dynamically: its DLL goes with the others
    cp /usr/x86_64-w64-mingw32/lib/zlib1.dll "$prefix/bin/"
    mkdir -p "$prefix/licenses/"{zlib,mingw-w64-runtime}
    cp /usr/share/doc/libz-mingw-w64/copyright "$prefix/licenses/zlib/"
    cp /usr/share/doc/gcc-mingw-w64-base/copyright "$prefix/licenses/mingw-w64-runtime/gcc"
    cp /usr/share/doc/mingw-w64-common/copyright "$prefix/licenses/mingw-w64-runtime/mingw-w64"

    say "mpg123"
    unpack mpg123 1.31.2
    autotools mpg123 --with-audio=dummy --disable-modules --with-default-audio=dummy
    # only libmpg123 is wanted: out123, syn123 and the programs go
    rm -rf "$prefix"/bin/*.exe "$prefix"/bin/lib{out,syn}123* "$prefix"/lib/lib{out,syn}123* \
        "$prefix"/include/{out,syn}123.h "$prefix"/lib/pkgconfig/lib{out,syn}123.pc \
        "$prefix"/lib/mpg123 "$prefix"/share
    expect mpg123 bin/libmpg123-0.dll

    say "LAME"
    unpack lame 3.100 msse.patch pkg-config.patch
    # lame_init_old is listed for export but defined nowhere, which a DLL cannot link
    sed -i '/^lame_init_old$/d' "$src/lame/include/libmp3lame.sym"
    autotools lame --disable-frontend --disable-gtktest
    expect lame bin/libmp3lame-0.dll

    say "Ogg, Vorbis, FLAC, Opus"
    unpack libogg 1.3.5
    autotools libogg
    expect libogg bin/libogg-0.dll
    unpack libvorbis 1.3.7 0001-Fix-build-failure-with-DSO-link-changes.patch
    autotools libvorbis --disable-docs --disable-examples --disable-oggtest
    expect libvorbis bin/libvorbis-0.dll bin/libvorbisenc-2.dll bin/libvorbisfile-3.dll
    unpack flac '1.4.2+ds' 0001-remove-build-path-from-generated-FLAC.tag-file.patch
    autotools flac --disable-programs --disable-examples --disable-doxygen-docs --disable-cpplibs \
        --disable-oggtest --disable-thorough-tests --disable-version-from-git \
        --disable-stack-smash-protection --disable-fortify-source
    expect flac 'bin/libFLAC*.dll'
    unpack opus 1.3.1
    # (opus fortifies its string calls, which MinGW needs libssp-0.dll for; FLAC likewise)
    autotools opus --disable-doc --disable-extra-programs CPPFLAGS=-D_FORTIFY_SOURCE=0
    expect opus bin/libopus-0.dll
    unpack libopusenc 0.2.1
    autotools libopusenc --disable-examples --disable-doc
    expect libopusenc bin/libopusenc-0.dll
    # Speex, which FFmpeg decodes only through the library (as Debian's build does)
    unpack speex '1.2.1'
    autotools speex --disable-binaries
    expect speex bin/libspeex-1.dll

    say "libsndfile"
    unpack libsndfile 1.2.0
    cmake_project libsndfile -DBUILD_SHARED_LIBS=ON -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
        -DBUILD_TESTING=OFF -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=ON -DENABLE_CPACK=OFF \
        -DINSTALL_MANPAGES=OFF -DENABLE_COMPATIBLE_LIBSNDFILE_NAME=ON -DBUILD_REGTEST=OFF
    expect libsndfile bin/libsndfile-1.dll

    say "soxr, libebur128, TagLib, GoogleTest"
    unpack libsoxr 0.1.3
    # soxr writes its pkg-config file everywhere but on Windows
    sed -i 's/^elseif (NOT WIN32)$/else ()/' "$src/libsoxr/src/CMakeLists.txt"
    cmake_project libsoxr -DBUILD_SHARED_LIBS=ON -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
        -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF
    expect libsoxr bin/libsoxr.dll lib/pkgconfig/soxr.pc
    unpack libebur128 1.2.6
    cmake_project libebur128 -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF -DENABLE_TESTS=OFF
    expect libebur128 bin/libebur128.dll
    unpack taglib 1.13 0001-Use-system-libutf8cpp-library.patch \
        0002-Make-taglib-config-arch-independent.patch
    cmake_project taglib -DBUILD_SHARED_LIBS=ON -DWITH_ZLIB=ON -DBUILD_BINDINGS=OFF \
        -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF
    expect taglib bin/libtag.dll
    unpack googletest 1.12.1
    cmake_project googletest -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON \
        -Dgtest_disable_pthreads=ON
    expect googletest lib/libgtest.a lib/libgmock.a lib/cmake/GTest/GTestConfig.cmake

    say "FFmpeg (a few minutes)"
    build_ffmpeg
    expect ffmpeg bin/avformat-59.dll bin/avcodec-59.dll bin/avutil-57.dll bin/swresample-4.dll

    # The MinGW runtime beside them, so that bin/ is all a program built here needs
    cp /usr/lib/gcc/x86_64-w64-mingw32/12-posix/{libstdc++-6,libgcc_s_seh-1}.dll \
        /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$prefix/bin/"
    # Tidy the prefix: no documentation, libtool archives or config scripts (they hold this
    # folder's path), stripped DLLs, and pkg-config files that find the prefix from where they
    # lie, so that it can be moved. licenses/ holds each library's licence.
    rm -rf "$prefix"/lib/*.la "$prefix"/bin/*-config* "$prefix"/bin/*.lib "$prefix"/share \
        "$prefix"/doc
    x86_64-w64-mingw32-strip --strip-unneeded "$prefix"/bin/*.dll
    local pc
    for pc in "$prefix"/lib/pkgconfig/*.pc; do
        # shellcheck disable=SC2016 # ${pcfiledir} is pkg-config's
        sed -i -e '1i prefix=${pcfiledir}/../..' -e '/^prefix=/d' -e "s|$prefix|\${prefix}|g" "$pc"
    done

    mkdir -p "$deps"
    mv "$prefix" "$deps/prefix"
    prefix=$deps/prefix PKG_CONFIG_LIBDIR=$deps/prefix/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig
    check_deps
    rm -rf "$work"
    touch "$deps/done"
    say "libraries made in $((SECONDS - start)) s: $prefix"
}

# FFmpeg: libavformat, libavcodec, libavutil, and libswresample, which FFmpeg's own Opus
# decoder needs (without it configure leaves the decoder out); the file protocol, every audio
# decoder (Speex's through libspeex), every demuxer but images, playlists and network streams,
# the audio parsers, and the AAC encoder with the MP4 muxers.
build_ffmpeg() {
    unpack ffmpeg '5.1.*'
    local f=$src/ffmpeg decoders demuxers
    # the audio decoders: allcodecs.c lists them between "audio codecs" and "subtitles"
    decoders=$(sed -n '/^\/\* audio codecs \*\//,/^\/\* subtitles \*\//s/.* ff_\(.*\)_decoder;/\1/p' \
        "$f/libavcodec/allcodecs.c" | paste -sd,),libspeex
    demuxers=$(cd "$f" && ./configure --list-demuxers | tr -s ' \t' '\n' | grep -vxE \
        'image.*|concat|dash|hls|imf|ffmetadata|webm_dash_manifest|rtp|rtsp|sdp|sap|libgme|libmodplug|libopenmpt|avisynth|vapoursynth|' |
        paste -sd,)
    (
        cd "$f"
        run ffmpeg ./configure --prefix="$prefix" --enable-cross-compile --target-os=mingw32 \
            --arch=x86_64 --cross-prefix=$host- --cc="${cc[*]}" --cxx="${cxx[*]}" \
            --enable-shared --disable-static --disable-programs --disable-doc --disable-network \
            --disable-everything --disable-autodetect --enable-zlib --enable-libspeex \
            --enable-w32threads \
            --disable-avdevice --disable-avfilter --disable-swscale \
            --disable-postproc --disable-debug --optflags=-O2 \
            --enable-protocol=file --enable-decoder="$decoders" --enable-demuxer="$demuxers" \
            --enable-parser=aac,aac_latm,ac3,adx,amr,cook,dca,dolby_e,dvaudio,flac,g723_1,g729,gsm,mlp,mpegaudio,opus,sbc,sipr,tak,vorbis,xma \
            --enable-encoder=aac --enable-muxer=mp4,ipod,mov
        run ffmpeg make -j"$jobs"
        run ffmpeg make install
    )
}

# The check: a small program built against the prefix, run under wine (deps-check.cpp).
check_deps() {
    say "checking the libraries under wine"
    local exe=$work/deps-check.exe modules
    modules=(libmpg123 sndfile soxr libebur128 taglib vorbisenc vorbis ogg libopusenc flac
        libavformat libavcodec libavutil)
    # shellcheck disable=SC2046
    run check x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -o "$exe" \
        "$here/deps-check.cpp" $(pkg-config --cflags --libs "${modules[@]}") -lmp3lame
    mkdir -p "$work/run" "$work/wine"
    (cd "$work/run" && WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
        WINEPATH="$(winepath_of "$prefix/bin")" run wine /usr/lib/wine/wine64 "$exe")
    WINEPREFIX=$work/wine run wine /usr/lib/wine/wineserver -w
    grep -E '^(mpg123 API|Xiph|all )' "$logs/wine.log" | sed 's/^/  /' >&2
}
winepath_of() { echo "Z:${1//\//\\}"; }

# --- Qt ----------------------------------------------------------------------------------------
make_qt() {
    local d
    for d in "$root"/qt-*; do
        [[ -f $d/done ]] || rm -rf "$d"
    done
    mkdir -p "$qt"
    if [[ -n $qt_tarball ]]; then
        say "unpacking Qt from $qt_tarball"
        tar xf "$qt_tarball" -C "$qt"
    else
        say "no Qt tarball found: building Qt from Debian's source (about 25 min)"
        mkdir -p "$qt/work"
        env -u QUAVERLY_WIN_DEPS -u PKG_CONFIG_LIBDIR "$here/build-qt.sh" "$qt/work" "$qt/prefix" \
            >"$qt/build.log" 2>&1 </dev/null 9>&- || failed "build-qt.sh" "$qt/build.log"
        rm -rf "$qt/work"
    fi
    [[ -f $qt/prefix/lib/cmake/Qt6/Qt6Config.cmake ]] || {
        say "no Qt prefix in $qt"
        exit 1
    }
    touch "$qt/done"
}

[[ -f $deps/done ]] || build_deps
[[ -f $qt/done ]] || make_qt
print_env
