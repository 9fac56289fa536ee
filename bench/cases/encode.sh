#!/usr/bin/env bash
# WAV to MP3 at 128 kbit/s through Mp3Encoder (queue, worker thread, event loop until EncodeDone)
# against the lame command with the same settings. Both write the same bytes; the case says so on
# stderr when they do not. Each run takes about 7 s, so at most 3 runs (RUNS may ask for fewer).
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

in=$DATA/music_5min.wav
runs=$((RUNS < 3 ? RUNS : 3))
ours=$TMPOUT/encode_ours.mp3
theirs=$TMPOUT/encode_lame.mp3

times=$(side_by_side "$runs" \
    "$BUILD/bench/quaverly_encode_bench" "$in" "$ours" 128 -- \
    lame --quiet -b 128 "$in" "$theirs")
read -r t_ours t_lame <<<"$times"
cmp -s "$ours" "$theirs" || echo "encode: output differs from lame -b 128" >&2
rm -f "$ours" "$theirs"
report "encode 5-min WAV to MP3 128k (Mp3Encoder)" "$t_ours" "lame -b 128" "$t_lame" 1.05
