#!/usr/bin/env bash
# WAV to M4A (AAC-LC 256k) through quaverly-cli convert against ffmpeg's own AAC encoder with the
# same bit rate, with the codec threads as set (every core by default: segments encoded apart and
# spliced) and with one thread (the same encoder as ffmpeg's, so only what lies around it counts).
# The M4A must decode with ffmpeg to exactly the source's samples' length (the case says so on
# stderr otherwise). A command line that does not write M4A is told on stderr and leaves the
# rows out. Each run takes several seconds, so at most 3 runs (RUNS may ask for fewer).
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

in=$DATA/music_5min.wav
cli=$BUILD/src/cli/quaverly-cli
runs=$((RUNS < 3 ? RUNS : 3))
ours=$TMPOUT/encode-aac.m4a
theirs=$TMPOUT/encode-aac-ffmpeg.m4a

if ! "$cli" convert "$in" "$ours" --bitrate 256 >/dev/null 2>&1; then
    echo "encode-aac: quaverly-cli does not write M4A; row left out" >&2
    exit 0
fi
decoded=$(ffmpeg -v error -i "$ours" -f s16le - | wc -c)
source_bytes=$(wav_data_bytes "$in")
[[ $decoded == "$source_bytes" ]] ||
    echo "encode-aac: our M4A decodes to $decoded bytes of samples, the source holds $source_bytes" >&2

read -r t_ours t_one t_base < <(side_by_side "$runs" "$cli" convert "$in" "$ours" --bitrate 256 -- \
    env QUAVERLY_CODEC_THREADS=1 "$cli" convert "$in" "$ours" --bitrate 256 -- \
    ffmpeg -v error -y -i "$in" -c:a aac -b:a 256k "$theirs")
rm -f "$ours" "$theirs"
# Two cores take about 0.65 of ffmpeg's time.
report "encode: 5-min WAV to M4A AAC 256k" "$t_ours" "ffmpeg -c:a aac -b:a 256k" "$t_base" 0.7
report "encode: 5-min WAV to M4A AAC 256k (1 thread)" "$t_one" "ffmpeg -c:a aac -b:a 256k" \
    "$t_base" 1.0
