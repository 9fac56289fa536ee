# Joining the five 4-minute WAVs into one, against cat of the same files.
source "$(dirname "$0")/../lib.sh"
ins=("$DATA"/join{1,2,3,4,5}.wav)
read -r ours base < <(side_by_side "$RUNS" \
    "$BUILD/bench/quaverly_join_bench" "$TMPOUT/join.wav" "${ins[@]}" -- \
    sh -c 'cat "$@" > "$0"' "$TMPOUT/cat.wav" "${ins[@]}")
report "join five 4-min WAVs (engine)" "$ours" "cat" "$base" 2.5
