#!/usr/bin/env bash
# MP3 to WAV through the song reader in 20000-byte blocks, against `mpg123 -w`: with the codec
# threads as set (every core by default) and with one thread, which shows what the cores add.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

in=$DATA/music_5min_320k.mp3
ours=$TMPOUT/decode-ours.wav
base=$TMPOUT/decode-mpg123.wav
bin=$BUILD/bench/quaverly_decode_bench
one=(env QUAVERLY_CODEC_THREADS=1)

# Both must produce the same samples (both decode with libmpg123, gapless) before timing counts,
# however many threads share the decode.
mpg123 -q -w "$base" "$in"
for threads in "" 1; do
    env ${threads:+QUAVERLY_CODEC_THREADS=$threads} "$bin" "$in" "$ours"
    if ! cmp -s <(tail -c +45 "$ours") <(tail -c +45 "$base"); then
        echo "decode${threads:+ ($threads thread)}: our samples differ from mpg123's" >&2
        exit 1
    fi
done

read -r t_ours t_one t_base < <(side_by_side "$RUNS" "$bin" "$in" "$ours" -- \
    "${one[@]}" "$bin" "$in" "$ours" -- mpg123 -q -w "$base" "$in")
report "decode 5-min 320k MP3 to WAV" "$t_ours" "mpg123 -q -w" "$t_base" 0.6
report "decode 5-min 320k MP3 to WAV (1 thread)" "$t_one" "mpg123 -q -w" "$t_base" 1.05
rm -f "$ours" "$base"
