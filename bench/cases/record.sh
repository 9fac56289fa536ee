#!/usr/bin/env bash
# The voice recorder on the virtual device at its fast clock (QUAVERLY_VIRTUAL_SPEED, 1000 unless
# set): while a 10-minute take is recorded, no pump of the ring into the take may hold the window
# thread longer than the window's 20 ms timer period; then "Save" / "Wav" of that take through the
# window, against cp of the saved file.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

bin=$BUILD/bench/quaverly_record_bench

longest=$("$bin" pump)
report "recorder: 10-min take, longest pump (ms)" "$longest" "limit (ms)" 20 1.0

# Each run records a take of its own and times only the save; cp then copies the file it saved,
# once as it is and once forced to the disk with sync -d (as the save forces its file). The
# three alternate, so that all see the same machine load, and each starts after a sync, so that
# none waits for the disk to take in what the one before left in memory.
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
take=$TMPOUT/take.wav copy=$TMPOUT/copy.wav
ours=() cps=() syncs=()
for _ in $(seq 1 "$RUNS"); do
    sync
    ours+=("$("$bin" savewav "$take")")
    sync
    cps+=("$(median_time 1 cp "$take" "$copy")")
    sync
    syncs+=("$(median_time 1 bash -c 'cp "$1" "$2" && sync -d "$2"' _ "$take" "$copy")")
done
o=$(printf '%s\n' "${ours[@]}" | median)
c=$(printf '%s\n' "${cps[@]}" | median)
s=$(printf '%s\n' "${syncs[@]}" | median)
# The save forces the take to the disk before it renames it into place, which plain cp does not:
# the second row compares like with like.
report "recorder: save 10-min take as WAV" "$o" "cp" "$c" 1.2
report "recorder: save 10-min take as WAV" "$o" "cp + sync -d" "$s" 1.2
rm -f "$take" "$copy"
