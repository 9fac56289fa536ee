#!/usr/bin/env bash
# Checks the Debian package made from a build tree: scripts/check-package.sh BUILD_DIR
# Runs CPack on the tree (built already, by the test command), then checks the package's files
# and dependencies, runs the programs of the unpacked package (a conversion to M4A proves that an
# installed tree finds its FFmpeg module), its bash completion and manual pages, and passes it
# through lintian, appstreamcli and desktop-file-validate.
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
dir=$(realpath "$1")
work=$(mktemp -d /tmp/quaverly-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "check-package: $*" >&2; failures=$((failures + 1)); }

cmake --build "$dir" --target quaverly quaverly-cli quaverly_ffmpeg quaverly_pulse \
    quaverly_package_files \
    >"$work/build.log" || { cat "$work/build.log" >&2; exit 1; }
(cd "$dir" && cpack -G DEB -B "$work/cpack") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; exit 1; }
debs=("$work"/cpack/quaverly_*.deb)
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "package: $(basename "$deb")"

# Every file the package must hold, and nothing else (no tests, no benchmarks).
expected='./usr/bin/quaverly
./usr/bin/quaverly-cli
./usr/lib/LIBDIR/quaverly/quaverly_ffmpeg.so
./usr/lib/LIBDIR/quaverly/quaverly_pulse.so
./usr/share/applications/org.quaverly.Quaverly.desktop
./usr/share/bash-completion/completions/quaverly-cli
./usr/share/doc/quaverly/changelog.gz
./usr/share/doc/quaverly/copyright
./usr/share/icons/hicolor/scalable/apps/quaverly.svg
./usr/share/man/man1/quaverly-cli.1.gz
./usr/share/man/man1/quaverly.1.gz
./usr/share/metainfo/org.quaverly.Quaverly.metainfo.xml'
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' |
    sed -E 's#^\./usr/lib/(x86_64-linux-gnu/)?quaverly/#./usr/lib/LIBDIR/quaverly/#' | sort)
if [[ "$files" != "$expected" ]]; then
    fail "the package's files differ from the expected ones:"
    diff <(echo "$expected") <(echo "$files") >&2 || true
fi

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libmp3lame libmpg123 libsndfile libavformat libavcodec libavutil libqt6core6 \
    libqt6gui6 libqt6widgets6 libqt6svg6 libpulse libsoxr libebur128 libtag; do
    [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

dpkg-deb -x "$deb" "$work/root"
root=$work/root
cli=$root/usr/bin/quaverly-cli
said=$("$cli" --version)
[[ $said == "quaverly-cli $version" ]] || fail "quaverly-cli --version: $said"
# The window's program answers without a display.
said=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/quaverly" --version 2>&1)
[[ $said == "Quaverly $version" ]] || fail "quaverly --version: $said"

# A conversion to MP3, and one to M4A through the FFmpeg module, which must be the package's.
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 1.5 sine 440 2>/dev/null
"$cli" convert "$work/tone.wav" "$work/tone.mp3" --quiet || fail "convert to MP3 failed"
[[ "$(mpg123 -q -s "$work/tone.mp3" 2>/dev/null | wc -c)" -eq $((66150 * 4)) ]] ||
    fail "the MP3 does not decode to the tone's 66150 frames"
LD_DEBUG=files "$cli" convert "$work/tone.wav" "$work/tone.m4a" --quiet 2>"$work/ld.log" ||
    fail "convert to M4A failed: $(grep -v '^ *[0-9]*:' "$work/ld.log")"
grep -q "file=$root/usr/bin/\.\./lib/.*quaverly/quaverly_ffmpeg\.so" "$work/ld.log" ||
    fail "the FFmpeg module was not loaded from the unpacked package"
"$cli" info "$work/tone.m4a" | grep -qx 'codec: AAC' || fail "the M4A does not hold AAC"
# A conversion never loads the sound server's client; listing the inputs loads the package's
# sound server module (whether a server answers or not).
grep -q "file=.*libpulse\.so" "$work/ld.log" && fail "a conversion loaded libpulse"
LD_DEBUG=files "$cli" inputs >/dev/null 2>"$work/ld.log" || true
grep -q "file=$root/usr/bin/\.\./lib/.*quaverly/quaverly_pulse\.so" "$work/ld.log" ||
    fail "the sound server module was not loaded from the unpacked package"

# The bash completion, fed the words of a command line; candidates one a line, sorted.
complete_words() {
    local script=$root/usr/share/bash-completion/completions/quaverly-cli
    (cd "$work/files" && bash -c 'source /usr/share/bash-completion/bash_completion
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _quaverly_cli "$1" "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        printf "%s\n" "${COMPREPLY[@]}"' _ "$script" "$@" | sort | xargs)
}
mkdir -p "$work/files/folder"
# d.mpc: a kind the completion knows only from the table of formats.
touch "$work/files/"{a.wav,b.txt,c.FLAC,d.mpc,e.aiff}
presets=$("$cli" presets | cut -f1 | sort | xargs)
while IFS='|' read -r words want; do
    read -ra line <<<"$words"
    [[ $words == *' ' ]] && line+=("")
    got=$(complete_words "$cli" "${line[@]}")
    [[ "$got" == "$want" ]] || fail "completion of '$words': '$got', not '$want'"
done <<EOT
c|convert cut
cut a.wav b.m4r --fade|--fade-in --fade-out
info --|--help --quiet
convert a.wav b.m4r --preset |$presets
info |a.wav c.FLAC d.mpc e.aiff folder
convert a.wav |a.wav c.FLAC folder
join out.wav --quiet |a.wav c.FLAC d.mpc e.aiff folder
EOT

# The manual pages render without a warning.
for page in quaverly quaverly-cli; do
    warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man $page: $warnings"
done

lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
    fail "lintian: $(cat "$work/lintian.log")"
grep -E '^[WE]: ' "$work/lintian.log" || true
appstreamcli validate --no-net --pedantic \
    "$root/usr/share/metainfo/org.quaverly.Quaverly.metainfo.xml" >"$work/appstream.log" 2>&1 ||
    fail "appstreamcli: $(cat "$work/appstream.log")"
desktop-file-validate "$root/usr/share/applications/org.quaverly.Quaverly.desktop" ||
    fail "desktop-file-validate"

if ((failures > 0)); then
    echo "check-package: $failures failed" >&2
    exit 1
fi
echo "check-package: all checks passed"
