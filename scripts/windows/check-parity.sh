#!/usr/bin/env bash
# Checks that the Windows command line gives what the Linux one gives, on the same songs:
#   scripts/windows/check-parity.sh LINUX-CLI WINDOWS-CLI.exe
# The songs are made here with the peer tools (sox, lame, flac, ffmpeg, opusenc), under a folder
# and names that need Unicode ("Música/Café 日本 (1).mp3"). Lossless decodes, joins and cuts must
# be the same bytes; AAC and Opus, decoded in floating point, within one step of a sample (the
# two C libraries' maths differ). The iPhone preset's M4R must read in ffprobe as AAC in an MP4
# of brand "M4A " and the song's exact length. Ctrl+C in the middle of a conversion must leave
# nothing and exit with 130. Runs the Windows program under wine in the WINEPREFIX given, else in
# one of its own. Exits non-zero, saying what differed.
set -uo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 LINUX-CLI WINDOWS-CLI.exe" >&2; exit 2; }
linux=$(realpath "$1")
windows=$(realpath "$2")
wine=${WINE:-/usr/lib/wine/wine64}
export LC_ALL=C.UTF-8 WINEDEBUG=-all
work=$(mktemp -d /tmp/quaverly-parity.XXXXXX)
own_prefix=0
if [[ -z ${WINEPREFIX:-} ]]; then
    export WINEPREFIX=$work/prefix WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
    own_prefix=1
    timeout 300 "$wine" wineboot -i >/dev/null 2>&1
fi
cleanup() {
    ((own_prefix)) && ${WINESERVER:-/usr/lib/wine/wineserver} -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "check-parity: $*" >&2; failures=$((failures + 1)); }
# Both programs on the same arguments; a path is given to Windows through wine's drive Z:.
on_linux() { timeout 300 "$linux" "$@" --quiet >/dev/null 2>"$work/linux.err"; }
# A Linux path as the Windows program reaches it, through wine's drive Z:.
winpath() { echo "Z:${1//\//\\}"; }
on_windows() {
    local args=() a
    for a in "$@"; do
        [[ $a == /* ]] && a=$(winpath "$a")
        args+=("$a")
    done
    # A start that wine ends before the program runs (exit code 1 and not a byte written, where
    # a failure of the program always says why) is made again, up to three times in all.
    local attempt status
    for attempt in 1 2 3; do
        status=0
        timeout 300 "$wine" "$windows" "${args[@]}" --quiet >"$work/windows.out" \
            2>"$work/windows.err" || status=$?
        [[ $status -eq 1 && ! -s $work/windows.err && ! -s $work/windows.out ]] || break
    done
    return $status
}
both() { # NAME COMMAND ARGS... with OUT in the arguments for each side's output
    local name=$1 a l=() w=()
    shift
    for a in "$@"; do
        l+=("${a//OUT/$out/linux-$name}")
        w+=("${a//OUT/$out/windows-$name}")
    done
    on_linux "${l[@]}" || fail "$name: Linux failed: $(cat "$work/linux.err")"
    on_windows "${w[@]}" || fail "$name: Windows failed: $(cat "$work/windows.err")"
}
same_bytes() { # NAME
    cmp -s "$out/linux-$1" "$out/windows-$1" || fail "$1: the Windows output is not the Linux one"
}
# The sample data of two WAV files (44-byte headers, 16-bit) within `slack` steps of each other.
close_samples() { # NAME SLACK
    python3 - "$out/linux-$1" "$out/windows-$1" "$2" <<'EOF' || fail "$1: the samples differ"
import array, sys
a, b = (array.array('h', open(p, 'rb').read()[44:]) for p in sys.argv[1:3])
worst = max((abs(x - y) for x, y in zip(a, b)), default=0)
print(f"  {sys.argv[1].rsplit('-', 1)[1]}: {len(a)} samples, largest difference {worst}")
sys.exit(0 if len(a) == len(b) and worst <= int(sys.argv[3]) else 1)
EOF
}

songs=$work/Música
out=$work/out
mkdir -p "$songs" "$out"
tone=$songs/tone.wav
mp3="$songs/Café 日本 (1).mp3"
sox -n -r 44100 -c 2 -b 16 "$tone" synth 4 sine 440 sine 660 gain -3 || exit 1
lame --quiet -b 160 "$tone" "$mp3" &&
    flac --silent -o "$songs/song.flac" "$tone" &&
    sox "$tone" -b 24 "$songs/deep.wav" &&
    ffmpeg -v error -i "$tone" -c:a alac "$songs/alac.m4a" &&
    ffmpeg -v error -i "$tone" -c:a aac -b:a 160k "$songs/aac.m4a" &&
    opusenc --quiet "$tone" "$songs/song.opus" || exit 1

echo "check-parity: decodes"
for song in "$mp3" "$songs/song.flac" "$songs/deep.wav" "$songs/alac.m4a"; do
    name=$(basename "$song").wav
    both "$name" convert "$song" OUT && same_bytes "$name"
done
for song in "$songs/aac.m4a" "$songs/song.opus"; do
    name=$(basename "$song").wav
    both "$name" convert "$song" OUT && close_samples "$name" 1
done

echo "check-parity: join and cut"
both join.wav join OUT "$mp3" "$songs/song.flac" && same_bytes join.wav
both cut.wav cut "$mp3" OUT --from 0:00.5 --to 0:02.25 && same_bytes cut.wav

echo "check-parity: the iPhone ringtone"
both ring.m4r convert "$mp3" OUT --preset iphone-ringtone
ring=$out/windows-ring.m4r
probe=$(ffprobe -v error -show_entries stream=codec_name:format_tags=major_brand -of csv=p=0 \
    "$ring" | paste -sd,)
[[ $probe == "aac,M4A " || $probe == "aac,M4A" ]] || fail "ring.m4r: ffprobe reads '$probe'"
frames=$(ffmpeg -v error -i "$ring" -f s16le -ac 1 - | wc -c)
want=$(ffmpeg -v error -i "$out/linux-$(basename "$mp3").wav" -f s16le -ac 1 - | wc -c)
[[ $frames -eq $want ]] || fail "ring.m4r: $((frames / 2)) frames, not $((want / 2))"

echo "check-parity: Ctrl+C"
sox -n -r 44100 -c 2 -b 16 "$songs/long.wav" synth 900 sine 440 || exit 1
# (with job control, so that the program started in the background takes Ctrl+C as a terminal
# gives it, instead of ignoring it as a script's background jobs do)
set -m
"$wine" "$windows" convert "$(winpath "$songs/long.wav")" "$(winpath "$out/long.mp3")" --quiet \
    >/dev/null 2>&1 &
pid=$!
set +m
for _ in $(seq 100); do # until the conversion has begun writing (at most 20 s)
    compgen -G "$out/long.mp3*" >/dev/null && break
    sleep 0.2
done
kill -INT "$pid"
wait "$pid"
status=$?
[[ $status -eq 130 ]] || fail "Ctrl+C: exit $status, not 130"
left=$(find "$out" -name 'long.mp3*')
[[ -z $left ]] || fail "Ctrl+C left $left"

if ((failures)); then
    echo "check-parity: $failures failure(s)" >&2
    exit 1
fi
echo "check-parity: the Windows command line gives the Linux one's results"
