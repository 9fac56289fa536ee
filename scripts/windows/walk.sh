#!/usr/bin/env bash
# Walks the Windows build's window under wine as a new user would, its sound going through wine's
# WASAPI to a private PulseAudio, and records the walk: a screenshot per step, and a check of each
# step with the Linux side's tools (parec, sox, ffprobe, pactl). Evidence for a reader, not a test
# of the suite.
#   scripts/windows/walk.sh [BUILD-DIR] [SHOTS-DIR]    (default build-win, a new /tmp folder)
# Prints "PASS"/"FAIL" and what was measured for each step; exits non-zero when a step failed.
# Needs Xvfb, xdotool, xwininfo, ImageMagick's import, sox, lame, ffmpeg, flac, ffprobe, python3,
# and a light window manager (openbox) so that wine's dialogs take the focus.
#
# The window starts at its least size (719 x 476) in a new wine prefix; the controls are clicked
# at their places in it (the panels' setGeometry and layouts), relative to its client area.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 2
build=$(realpath "${1:-build-win}")
shots=${2:-$(mktemp -d /tmp/quaverly-walk-shots.XXXXXX)}
mkdir -p "$shots"
shots=$(realpath "$shots")
exe=$build/src/app/quaverly.exe
run=$build/wine-run.sh
here=$(pwd)
tones() { python3 "$here/scripts/windows/walk-tones.py" "$@"; }
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}
for tool in Xvfb xdotool xwininfo import convert sox lame ffmpeg flac ffprobe parec paplay pactl \
    python3; do
    command -v "$tool" >/dev/null || { echo "walk: $tool is missing" >&2; exit 2; }
done
[[ -x $exe && -x $run ]] || { echo "walk: no $exe (scripts/windows/build.sh $build)" >&2; exit 2; }

work=$(mktemp -d /tmp/quaverly-walk.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
# No menu entries on the host, no questions about Mono or Gecko; Qt draws through wine's X driver.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
unset WINEQT_QPA_PLATFORM QT_QPA_PLATFORM QUAVERLY_AUDIO WAYLAND_DISPLAY
pids=()
cleanup() {
    "$wineserver" -k 2>/dev/null
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    scripts/sound-server.sh stop "$work/sound"
    rm -rf "$work"
}
trap cleanup EXIT

failed=0
result() { # STEP OK TEXT
    if [[ $2 == 0 ]]; then
        echo "PASS $1: $3"
    else
        echo "FAIL $1: $3"
        failed=$((failed + 1))
    fi
}
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}
window() { xdotool search --name "$1" 2>/dev/null | head -1; }
has_window() { [[ -n $(window "$1") ]]; }
no_window() { [[ -z $(window "$1") ]]; }
# The main window's client area's top left corner on the screen.
origin() {
    local id
    id=$(window '^Quaverly by ') || return 1
    [[ -n $id ]] || return 1
    xwininfo -id "$id" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        END { print x, y }'
}
# Clicks (COUNT times) at X Y in the main window's client area; clicked_at: when.
click() {
    local x y
    read -r x y < <(origin)
    xdotool mousemove $((x + $1)) $((y + $2)) click --repeat "${3:-1}" --delay 80 1
    clicked_at=$(date +%s.%N)
    sleep 0.4
}
# Types into the focused control; in wine's file boxes Ctrl+A selects nothing: End, Shift+Home.
retype() {
    xdotool key End shift+Home
    xdotool type --delay 25 "$1"
}
winpath() { echo "Z:${1//\//\\}"; }
# The screen, and the part around the window with its dialogs: NN-name.png.
shot() {
    local x y
    import -window root "$work/screen.png"
    read -r x y < <(origin) || { x=280 y=212; }
    convert "$work/screen.png" -crop "790x600+$((x - 10))+$((y - 30))" +repage "$shots/$1.png"
}
app_running() { kill -0 "$app" 2>/dev/null; }
app_ended() { ! app_running; }
working_copies() { ls "$WINEPREFIX"/drive_c/users/*/AppData/Local/velmarise/instance-*/song-*.wav 2>/dev/null; }
# Sleeps until $2 seconds after the clock's $1 (date +%s.%N).
until_clock() { sleep "$(awk -v t="$1" -v d="$2" -v now="$(date +%s.%N)" \
    'BEGIN { s = t + d - now; printf "%.3f", (s > 0 ? s : 0) }')"; }
copies() { [[ $(working_copies | wc -l) -eq $1 ]]; }
lasts() { near "$(soxi -D "$1" 2>/dev/null || echo 0)" "$2" 0.001; }
near() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { exit !((a - b) <= d && (b - a) <= d) }'; }

# --- The private sound server, the X server with its window manager, the wine prefix, the songs.
eval "$(scripts/sound-server.sh start "$work/sound")" || { echo "walk: no sound server" >&2; exit 1; }
# Wine's PulseAudio driver refills a short buffer from a timer thread of its own, and now and
# then leaves a 10 ms gap; a desktop's slack for its streams absorbs it (as the tests do).
export PULSE_LATENCY_MSEC=100
# The inputs start at levels of their own, to see that the program leaves them so.
pactl set-source-volume testsink.monitor 80%
pactl set-source-volume testsink_loop 90%
levels() { pactl list sources | awk '/^\tName:/ { n = $2 } /^\tVolume:/ { print n, $5, $12 }'; }
levels >"$work/levels-before"
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/display" || { echo "walk: Xvfb did not start" >&2; exit 1; }
DISPLAY=:$(cat "$work/display")
export DISPLAY
if command -v openbox >/dev/null; then
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
else
    echo "walk: no openbox; wine's dialogs may not take the focus" >&2
fi
"$run" wineboot -i >/dev/null 2>&1
# wine's sound goes to the private server only.
"$run" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1
"$wineserver" -w
songs=$work/songs
out=$work/out
mkdir -p "$songs" "$out"
tone() { sox -n -r 44100 -c 2 -b 16 "$1" synth "$2" sine "$3" vol 0.5; }
tone "$songs/a440.wav" 3.5 440
tone "$work/t660.wav" 3.5 660 && lame --quiet "$work/t660.wav" "$songs/b660.mp3"
tone "$work/t880.wav" 3.5 880 &&
    ffmpeg -loglevel error -y -i "$work/t880.wav" -c:a aac -b:a 128k "$songs/c880.m4a"
tone "$work/t550.wav" 3.5 550 && flac -s -f "$work/t550.wav" -o "$songs/d550.flac"
tone "$work/k1000.wav" 8 1000

# --- 1. Start; add the four songs through "ADD" and wine's file box.
env LC_ALL=C.UTF-8 "$run" "$exe" >"$work/app.log" 2>&1 &
app=$!
step1() {
    wait_for 60 has_window '^Quaverly by ' || { echo "the window did not appear"; return 1; }
    sleep 1
    shot 01-started
    click 48 370 # ADD
    wait_for 20 has_window '^Add songs$' || { echo "no \"Add songs\" box"; return 1; }
    sleep 0.5
    # The folder first (Enter opens it), then the four names in it, quoted: one choice.
    retype "$(winpath "$songs")" && xdotool key Return
    sleep 1
    retype '"a440.wav" "b660.mp3" "c880.m4a" "d550.flac"'
    shot 02-add-box
    xdotool key Return
    wait_for 20 no_window '^Add songs$' || { echo "the box did not close"; return 1; }
    wait_for 30 copies 4 ||
        { echo "$(working_copies | wc -l) working copies, not 4"; return 1; }
    sleep 1
    shot 03-songs-added
    # Each song's working copy: its length and its pitch.
    local f heard=() ok=0
    for f in $(working_copies); do
        local len pitch
        len=$(soxi -D "$f")
        pitch=$(tones "$f" | awk '$1 == "tone" { print $4; exit }')
        heard+=("${pitch}Hz/${len}s")
        near "$len" 3.5 0.05 || ok=1
    done
    echo "working copies: $(printf '%s\n' "${heard[@]}" | sort -n | paste -sd' ')"
    [[ $(printf '%s\n' "${heard[@]}" | cut -dH -f1 | sort -n | paste -sd,) == 440,550,660,880 ]] ||
        ok=1
    return $ok
}
text=$(step1)
result "1 add songs (WAV, MP3, M4A, FLAC)" $? "$(tr '\n' ' ' <<<"$text")"
# The first song's working copy, which the editor cuts.
a440_copy=$(for f in $(working_copies); do
    [[ $(tones "$f" | awk '$1 == "tone" { print $4; exit }') == 440 ]] && echo "$f"
done | head -1)

# --- 2. Play the list from the first song; pause in the second and go on.
step2() {
    app_running || { echo "the program is not running"; return 1; }
    click 60 86       # the first song
    click 273 110     # "Play List"
    parec -d testsink.monitor --raw --format=s16le --rate=44100 --channels=2 >"$work/list.raw" &
    local rec=$!
    sleep 0.5
    click 462 144     # Play
    sleep 5           # into the second song
    click 382 144     # Pause
    local paused=$clicked_at
    shot 04-list-paused
    until_clock "$paused" 2
    click 382 144     # Pause again: on from where it was
    local resumed=$clicked_at
    sleep 12
    shot 05-list-played
    kill "$rec"
    wait "$rec" 2>/dev/null
    tones "$work/list.raw" >"$work/list.tones"
    sed 's/^/    /' "$work/list.tones"
    local held
    held=$(awk -v a="$paused" -v b="$resumed" 'BEGIN { printf "%.2f", b - a }')
    # The tones in order with the pause in the second; each song heard whole, once.
    awk -v held="$held" '
        $1 == "tone" { f[++n] = $4; len[n] = $3; start[n] = $2 }
        $1 == "silence" && n == 2 { gap = $3 }
        $1 == "dropout" { drops++ }
        END {
            want = "440 660 660 880 550"
            got = f[1] " " f[2] " " f[3] " " f[4] " " f[5]
            printf "order %s (wanted %s); ", got, want
            ok = (n == 5)
            split(want, w, " ")
            for (i = 1; i <= 5; i++)
                if (f[i] < w[i] * 0.98 || f[i] > w[i] * 1.02) ok = 0
            second = len[2] + len[3]
            printf "lengths %.2f %.2f+%.2f=%.2f %.2f %.2f s; ", len[1], len[2], len[3], second, len[4], len[5]
            for (i = 1; i <= 5; i++) if (i != 2 && i != 3 && (len[i] < 3.35 || len[i] > 3.7)) ok = 0
            if (second < 3.35 || second > 3.7) ok = 0
            printf "pause gap %.2f s for %.2f s held; dropouts %d", gap, held, drops
            if (gap < held - 0.4 || gap > held + 0.4) ok = 0
            if (drops > 0) ok = 0
            exit !ok
        }' "$work/list.tones"
}
text=$(step2)
result "2 play the list, pause and resume" $? "$(tr '\n' ' ' <<<"$text" | tr -s ' ')"

# Types the editor's In and Out marks.
mark() {
    click 324 235 3 && retype "$1" && xdotool key Tab    # In
    click 324 263 3 && retype "$2" && xdotool key Tab    # Out
    sleep 0.5
}
# "Export Clip…" to the file $1 (a Linux path, typed as wine's Z:), the clip's title as offered
# (the song's name); then the "saved" box, photographed as $2 and closed.
export_clip() {
    click 647 263    # Export Clip…
    wait_for 20 has_window '^Export Clip$' || { echo "no \"Export Clip\" box"; return 1; }
    sleep 0.5
    retype "$(winpath "$1")" && xdotool key Return
    wait_for 20 has_window '^Title$' || { echo "no box asking for the title"; return 1; }
    sleep 0.3
    xdotool key Return
    wait_for 60 test -s "$1" || { echo "no $1"; return 1; }
    wait_for 20 has_window '^Quaverly$'
    sleep 0.5
    shot "$2"
    xdotool key Return
}

# --- 3. Open the first song in the editor, mark 0.5 s to 2.5 s, cut ("Done").
step3() {
    app_running || { echo "the program is not running"; return 1; }
    click 60 86 2    # double click: the editor
    sleep 1.5
    shot 06-editor-open
    mark 0:00.500 0:02.500
    shot 07-editor-marked
    click 653 338    # Done
    wait_for 20 lasts "$a440_copy" 2.0 ||
        { echo "the song's working copy is $(soxi -D "$a440_copy") s long, not 2.000 s"; return 1; }
    sleep 0.5
    shot 08-editor-cut
    echo "the song is $(soxi -D "$a440_copy") s after the cut (0.5 to 2.5 s of 3.5 s);" \
        "$(tones "$a440_copy" | awk '$1 == "tone" { print $4 " Hz"; exit }')"
}
text=$(step3)
result "3 cut in the clip editor" $? "$(tr '\n' ' ' <<<"$text")"

# --- 4. The clip as an iPhone ringtone: the preset, "Export Clip…", a file in Z:.
step4() {
    app_running || { echo "the program is not running"; return 1; }
    click 343 393    # the output's preset
    sleep 0.5
    xdotool key Down Return    # "iPhone ringtone", under "None"
    sleep 0.5
    export_clip "$out/ring.m4r" 09-ringtone-saved || return 1
    local probe
    probe=$(ffprobe -v error -show_entries \
        format=format_name,duration:format_tags=major_brand:stream=codec_name,sample_rate,channels \
        -of default=nw=1 "$out/ring.m4r" | tr '\n' ' ')
    echo "ffprobe: $probe"
    grep -q 'codec_name=aac' <<<"$probe" && grep -q 'format_name=mov,mp4,m4a' <<<"$probe" &&
        grep -Eq 'major_brand=(M4A|M4R|mp42|isom)' <<<"$probe" &&
        near "$(sed -n 's/.*duration=\([0-9.]*\).*/\1/p' <<<"$probe")" 2.0 0.05
}
text=$(step4)
result "4 iPhone ringtone of the clip" $? "$(tr '\n' ' ' <<<"$text")"

# --- 4b. A ringtone that keeps an AAC song's own packets: the M4A song in the editor, the same
# marks, "Export Clip…" with "iPhone ringtone" still chosen. The clip's packets, each given an
# ADTS header by ffmpeg, must be a run of the song's, and the clip exactly 2 s long.
step4b() {
    app_running || { echo "the program is not running"; return 1; }
    click 60 126 2    # double click: the third song, c880.m4a
    sleep 1.5
    mark 0:00.500 0:02.500
    export_clip "$out/kept.m4r" 09b-kept-ringtone-saved || return 1
    ffmpeg -v error -i "$songs/c880.m4a" -c copy -f adts "$work/song.adts" &&
        ffmpeg -v error -i "$out/kept.m4r" -c copy -f adts "$work/kept.adts" ||
        { echo "ffmpeg cannot read the clip"; return 1; }
    local length
    length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$out/kept.m4r")
    echo "ffprobe: duration=$length;"
    python3 -c 'import sys
song, clip = (open(f, "rb").read() for f in sys.argv[1:])
sys.exit(0 if clip and clip in song else 1)' "$work/song.adts" "$work/kept.adts" ||
        { echo "its AAC packets are not the song's"; return 1; }
    echo "its $(stat -c %s "$work/kept.adts") bytes of AAC packets are a run of the song's"
    near "$length" 2.0 0.001
}
text=$(step4b)
result "4b iPhone ringtone keeping an AAC song's packets" $? "$(tr '\n' ' ' <<<"$text")"

# --- 5. Record what is played: "Monitor of Null Output", 5 s of a 1 kHz tone; play the take
# and save it as WAV.
step5() {
    app_running || { echo "the program is not running"; return 1; }
    click 60 22      # the toolbar's recorder
    sleep 1.5
    click 364 90     # the input
    sleep 0.5
    shot 10-inputs
    xdotool key Down Return    # "Monitor of Null Output", under "PulseAudio"
    sleep 1
    paplay "$work/k1000.wav" &
    local player=$!
    sleep 0.5
    click 264 243    # Record
    local t0=$clicked_at
    sleep 2.5
    shot 11-recording
    until_clock "$t0" 5
    click 264 243    # Stop
    local t1=$clicked_at
    wait "$player"
    shot 12-take
    parec -d testsink.monitor --raw --format=s16le --rate=44100 --channels=2 >"$work/take.raw" &
    local rec=$!
    sleep 0.5
    click 364 243    # Play the take
    sleep 7
    kill "$rec"
    wait "$rec" 2>/dev/null
    click 464 243    # Save
    click 550 243    # … as WAV
    wait_for 20 has_window '^Save' || { echo "no box to save the take in"; return 1; }
    sleep 0.5
    retype "$(winpath "$out/take.wav")" && xdotool key Return
    wait_for 30 test -s "$out/take.wav" || { echo "no $out/take.wav"; return 1; }
    wait_for 20 has_window '^Quaverly$'
    sleep 0.5
    shot 13-take-saved
    xdotool key Return    # the "saved" box
    local held len heard saved
    held=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
    len=$(soxi -D "$out/take.wav")
    heard=$(tones "$work/take.raw" | tee "$work/take-play.tones" |
        awk '$1 == "tone" && $4 > 980 && $4 < 1020 { s += $3 } $1 == "dropout" { d++ }
             END { printf "%.2f %d", s, d }')
    saved=$(tones "$out/take.wav" | awk '$1 == "tone" && $4 > 980 && $4 < 1020 { s += $3 }
             END { printf "%.2f", s }')
    echo "Record held ${held} s by the clock; take.wav ${len} s, 1 kHz in it ${saved} s;" \
        "the take played: 1 kHz heard ${heard% *} s, dropouts ${heard#* }"
    sed 's/^/    /' "$work/take-play.tones"
    near "$len" "$held" 0.3 && near "$saved" "$len" 0.15 && near "${heard% *}" "$len" 0.2 &&
        [[ ${heard#* } == 0 ]]
}
text=$(step5)
result "5 record what is played, play and save the take" $? "$(tr '\n' ' ' <<<"$text" | tr -s ' ')"

# --- 6. Move the input's level, close the program: the inputs' levels are as they were.
step6() {
    app_running || { echo "the program is not running"; return 1; }
    click 504 120          # the input level's handle
    xdotool key Page_Down Page_Down
    sleep 1
    shot 14-level-moved
    levels >"$work/levels-moved"
    click 215 22           # Exit
    wait_for 30 app_ended || { echo "the program did not end within 30 s"; return 1; }
    levels >"$work/levels-after"
    echo "before: $(paste -sd' ' "$work/levels-before");" \
        "with the level moved: $(paste -sd' ' "$work/levels-moved");" \
        "after: $(paste -sd' ' "$work/levels-after");" \
        "working files left: $(working_copies | wc -l)"
    cmp -s "$work/levels-before" "$work/levels-after" && [[ $(working_copies | wc -l) -eq 0 ]]
}
text=$(step6)
result "6 close; the inputs' levels as before" $? "$(tr '\n' ' ' <<<"$text")"

echo "screenshots: $shots"
if [[ $failed -gt 0 ]]; then
    echo "the program's output:" && sed 's/^/    /' "$work/app.log"
    exit 1
fi
