#!/usr/bin/env bash
# The clip editor's waveform of the 5-min song: its peaks, from the request until they are ready
# on the window thread (the program times its own step, start-up excluded), against sox reading
# the same file for its statistics, and against a limit of 150 ms; the longest the window thread
# is held up while they are computed (limit 20 ms); and what a frame of the view 1920 pixels wide
# costs while zooming and while the play cursor moves, median and worst (limit 8 ms).
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

bin=$BUILD/bench/quaverly_waveform_bench
song=$DATA/music_5min.wav
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# The two alternate, so that both see the same machine load and the same page cache.
"$bin" ready "$song" >/dev/null
ours=() base=()
for _ in $(seq 1 "$RUNS"); do
    ours+=("$("$bin" ready "$song")")
    base+=("$(median_time 1 sox "$song" -n stat)")
done
o=$(printf '%s\n' "${ours[@]}" | median)
b=$(printf '%s\n' "${base[@]}" | median)
report "waveform: peaks of 5-min WAV ready" "$o" "sox -n stat" "$b" 1.5
report "waveform: peaks of 5-min WAV ready (ms)" "$(awk -v s="$o" 'BEGIN{print s * 1000}')" \
    "limit (ms)" 150 1.0

report "waveform: window thread held up by peaks (ms)" "$("$bin" block "$song")" "limit (ms)" 20 1.0

read -r zm zw cm cw < <("$bin" draw "$song" 2>/dev/null)
report "waveform: zoom frame 1920 px, median (ms)" "$zm" "limit (ms)" 8 1.0
report "waveform: zoom frame 1920 px, worst (ms)" "$zw" "limit (ms)" 8 1.0
report "waveform: cursor frame 1920 px, median (ms)" "$cm" "limit (ms)" 8 1.0
report "waveform: cursor frame 1920 px, worst (ms)" "$cw" "limit (ms)" 8 1.0
