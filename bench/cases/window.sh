#!/usr/bin/env bash
# The song list's work through the window (scripted dialogs, no display): adding an MP3, and the
# two list saves. The program times its own step (start-up excluded); the baselines are whole
# commands. Also checks that a WAV save keeps its memory peak under 64 MiB above the idle window.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

bin=$BUILD/bench/quaverly_window_bench
joins=("$DATA"/join{1,2,3,4,5}.wav)
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# alternate N "OURS..." -- BASE...: our self-timed seconds and the baseline's wall time, medians.
alternate() {
    local n=$1; shift
    local ours=() base=() seen=0 to=() tb=()
    for a in "$@"; do
        if [[ $a == -- ]]; then seen=1; continue; fi
        if [[ $seen -eq 0 ]]; then ours+=("$a"); else base+=("$a"); fi
    done
    for _ in $(seq 1 "$n"); do
        to+=("$("${ours[@]}" | awk '{print $1}')")
        tb+=("$(median_time 1 "${base[@]}")")
    done
    echo "$(printf '%s\n' "${to[@]}" | median) $(printf '%s\n' "${tb[@]}" | median)"
}

read -r o b < <(alternate "$RUNS" "$bin" add "$DATA/music_5min_320k.mp3" -- \
    mpg123 -q -w "$TMPOUT/m.wav" "$DATA/music_5min_320k.mp3")
report "window: add 5-min 320k MP3" "$o" "mpg123 -q -w" "$b" 1.1

read -r o b < <(alternate "$RUNS" "$bin" savewav "$TMPOUT/list.wav" "${joins[@]}" -- \
    bash -c 'cat "${@:2}" > "$1"' _ "$TMPOUT/cat.wav" "${joins[@]}")
report "window: save list of five 4-min WAVs to WAV" "$o" "cat" "$b" 2.5
peak=$("$bin" savewav "$TMPOUT/list.wav" "${joins[@]}" | awk '{print $2}')
echo "window: WAV save memory peak above idle: $((peak / 1024)) MiB (limit 64)" >&2
report "window: adds and WAV save, peak MiB above idle" "$(awk -v k="$peak" 'BEGIN{print k/1024}')" \
    "limit (MiB)" 64 1.0

# The clip editor: the double click until "Edit Song" shows the length, against reading the
# length with soxi (median of 20); "Done" keeping 30 s of the 5-min song, against sox's trim.
read -r o b < <(alternate 20 "$bin" open "$DATA/music_5min.wav" -- soxi -D "$DATA/music_5min.wav")
report "window: open 5-min WAV in the editor" "$o" "soxi -D" "$b" 1.0
read -r o b < <(alternate "$RUNS" "$bin" cut "$DATA/music_5min.wav" 60000 90000 -- \
    sox "$DATA/music_5min.wav" "$TMPOUT/trim.wav" trim 60 30)
report "window: Done, 30 s kept of a 5-min WAV" "$o" "sox trim 60 30" "$b" 1.5

runs=$((RUNS < 3 ? RUNS : 3))
read -r o b < <(alternate "$runs" "$bin" savemp3 "$TMPOUT/list.mp3" 128 "${joins[@]}" -- \
    bash -c 'sox "${@:3}" "$1" && lame --quiet -b 128 "$1" "$2"' _ "$TMPOUT/sox.wav" \
    "$TMPOUT/lame.mp3" "${joins[@]}")
report "window: save list to MP3 128k" "$o" "sox join + lame -b 128" "$b" 1.1
rm -f "$TMPOUT"/*.wav "$TMPOUT"/*.mp3
