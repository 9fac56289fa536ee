#!/usr/bin/env bash
# MP3 to WAV through the sound layer in 20000-byte blocks, against `mpg123 -w`.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

in=$DATA/music_5min_320k.mp3
ours=$TMPOUT/decode-ours.wav
base=$TMPOUT/decode-mpg123.wav
bin=$BUILD/bench/quaverly_decode_bench

# Both must produce the same samples (both decode with libmpg123, gapless) before timing counts.
"$bin" "$in" "$ours"
mpg123 -q -w "$base" "$in"
if ! cmp -s <(tail -c +45 "$ours") <(tail -c +45 "$base"); then
    echo "decode: our samples differ from mpg123's" >&2
    exit 1
fi

read -r t_ours t_base < <(side_by_side "$RUNS" "$bin" "$in" "$ours" -- mpg123 -q -w "$base" "$in")
report "decode 5-min 320k MP3 to WAV" "$t_ours" "mpg123 -q -w" "$t_base" 1.05
