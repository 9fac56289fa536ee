#!/usr/bin/env bash
# The song list's work through the window (scripted dialogs, no display): adding an MP3, and the
# two list saves. The program times its own step (start-up excluded); the baselines are whole
# commands. Also checks that a WAV save keeps its memory peak under 64 MiB above the idle window,
# that the MP3 save adds nothing to the working folder beyond the songs' working copies, and that
# the window thread never pauses more than 50 ms during either save.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

bin=$BUILD/bench/quaverly_window_bench
joins=("$DATA"/join{1,2,3,4,5}.wav)
one=(env QUAVERLY_CODEC_THREADS=1)

# alternate N OURS... [-- OURS...] -- BASE...: runs the commands in turn, N rounds, and prints the
# median seconds of each in the order given: our programs time their own step (the first figure
# they print), the baseline is timed whole. Everything our K-th program printed (from 0) is kept
# in $TMPOUT/alternate-K.txt, a line a run.
alternate() {
    local n=$1
    shift
    local args=("$@") starts c
    command_starts "$@"
    local count=$((${#starts[@]} - 1)) times=() t line
    for ((c = 0; c < count - 1; c++)); do
        : >"$TMPOUT/alternate-$c.txt"
    done
    for _ in $(seq 1 "$n"); do
        for ((c = 0; c < count; c++)); do
            local cmd=("${args[@]:starts[c]:starts[c + 1] - starts[c] - 1}")
            if ((c == count - 1)); then
                t=$(median_time 1 "${cmd[@]}")
            else
                line=$("${cmd[@]}")
                echo "$line" >>"$TMPOUT/alternate-$c.txt"
                t=$(awk '{print $1}' <<<"$line")
            fi
            times[c]="${times[c]:-} $t"
        done
    done
    print_medians
}

# The add decodes the MP3 into its working copy: with the codec threads as set (every core by
# default) and with one thread.
read -r o o1 b < <(alternate "$RUNS" "$bin" add "$DATA/music_5min_320k.mp3" -- \
    "${one[@]}" "$bin" add "$DATA/music_5min_320k.mp3" -- \
    mpg123 -q -w "$TMPOUT/m.wav" "$DATA/music_5min_320k.mp3")
report "window: add 5-min 320k MP3" "$o" "mpg123 -q -w" "$b" 0.6
report "window: add 5-min 320k MP3 (1 thread)" "$o1" "mpg123 -q -w" "$b" 1.1

# The window thread while "ADD" decodes a 3-hour MP3 (the 5-minute 128k material, its frames
# repeated 36 times; made here when the material predates it): the longest it went without a
# tick of a 5 ms timer, by the wall clock, in the quietest run: a loaded machine keeps the thread
# waiting now and then, a window thread doing the decode's work shows in every run. Beside it,
# the most CPU time the thread used within one gap, over all runs.
long3h=$DATA/music_3h_128k.mp3
if [[ ! -f $long3h ]]; then
    long3h=$TMPOUT/music_3h_128k.mp3
    for _ in $(seq 36); do cat "$DATA/music_5min_128k_noinfotag.mp3"; done >"$long3h"
fi
pause=
busy=0
for _ in $(seq 1 "$RUNS"); do
    read -r p c < <("$bin" pause "$long3h")
    pause=$(awk -v a="$p" -v m="$pause" 'BEGIN{print (m == "" || a < m ? a : m)}')
    busy=$(awk -v a="$c" -v m="$busy" 'BEGIN{print (a > m ? a : m)}')
done
echo "window: adding a 3-hour MP3, longest pause $pause ms; the window thread's CPU time" \
    "within one gap at most $busy ms" >&2
report "window: longest pause while adding a 3-hour MP3" "$pause" "limit (ms)" 50 1.0

read -r o b < <(alternate "$RUNS" "$bin" savewav "$TMPOUT/list.wav" "${joins[@]}" -- \
    bash -c 'cat "${@:2}" > "$1"' _ "$TMPOUT/cat.wav" "${joins[@]}")
report "window: save list of five 4-min WAVs to WAV" "$o" "cat" "$b" 2.5
# The window thread's longest pause during each save (the last figure), the median over the runs.
pause_of() { awk '{print $NF}' "$1" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
report "window: longest pause while saving a 20-minute list to WAV" \
    "$(pause_of "$TMPOUT/alternate-0.txt")" "limit (ms)" 50 1.0
peak=$("$bin" savewav "$TMPOUT/list.wav" "${joins[@]}" | awk '{print $2}')
echo "window: WAV save memory peak above idle: $((peak / 1024)) MiB (limit 64)" >&2
report "window: adds and WAV save, peak MiB above idle" "$(awk -v k="$peak" 'BEGIN{print k/1024}')" \
    "limit (MiB)" 64 1.0

# The clip editor: the double click until "Edit Song" shows the length, against reading the
# length with soxi (median of 20); "Done" keeping 30 s of the 5-min song, against sox's trim.
# Done also keeps the song for its undo: by a hard link, so the song's length costs nothing, and
# the cut with its sync must stay within sox's time.
read -r o b < <(alternate 20 "$bin" open "$DATA/music_5min.wav" -- soxi -D "$DATA/music_5min.wav")
report "window: open 5-min WAV in the editor" "$o" "soxi -D" "$b" 1.0
read -r o b < <(alternate "$RUNS" "$bin" cut "$DATA/music_5min.wav" 60000 90000 -- \
    sox "$DATA/music_5min.wav" "$TMPOUT/trim.wav" trim 60 30)
report "window: Done, 30 s kept of a 5-min WAV" "$o" "sox trim 60 30" "$b" 1.0

# The list saved to MP3, with the codec threads as set and with one thread, against sox joining
# into a WAV that lame then encodes. With one thread the save writes lame's bytes for the joined
# songs; with several, an MP3 that decodes cleanly to the joined songs' exact length. The working
# folder's peak above what it held before the save is the largest over all runs.
runs=$((RUNS < 3 ? RUNS : 3))
read -r o o1 b < <(alternate "$runs" "$bin" savemp3 "$TMPOUT/list.mp3" 128 "${joins[@]}" -- \
    "${one[@]}" "$bin" savemp3 "$TMPOUT/list1.mp3" 128 "${joins[@]}" -- \
    bash -c 'sox "${@:3}" "$1" && lame --quiet -b 128 "$1" "$2"' _ "$TMPOUT/sox.wav" \
    "$TMPOUT/lame.mp3" "${joins[@]}")
report "window: save list to MP3 128k" "$o" "sox join + lame -b 128" "$b" 0.6
report "window: save list to MP3 128k (1 thread)" "$o1" "sox join + lame -b 128" "$b" 1.1
report "window: longest pause while saving a 20-minute list to MP3" \
    "$(pause_of "$TMPOUT/alternate-0.txt")" "limit (ms)" 50 1.0
check_mp3 "window: save list to MP3" "$TMPOUT/list.mp3" "$TMPOUT/sox.wav"
cmp -s "$TMPOUT/list1.mp3" "$TMPOUT/lame.mp3" ||
    echo "window: save list to MP3 (1 thread): output differs from sox join + lame -b 128" >&2
disk=$(cat "$TMPOUT"/alternate-{0,1}.txt |
    awk 'NF < 3 {exit 1} $3 > m {m = $3} END {print m / 1e6}') ||
    { echo "window: the MP3 save did not report the working folder's peak" >&2; exit 1; }
report "window: save list to MP3, peak extra MB in working folder" "$disk" "limit (MB)" 1 1.0
rm -f "$TMPOUT"/*.wav "$TMPOUT"/*.mp3 "$TMPOUT"/alternate-*.txt
