#!/usr/bin/env bash
# Whole-process comparisons of quaverly-cli with the usual command-line tools.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

cli=$BUILD/src/cli/quaverly-cli
joins=("$DATA"/join{1,2,3,4,5}.wav)

# The two converts with the codec threads as set (every core by default) and with one thread.
one=(env QUAVERLY_CODEC_THREADS=1)
read -r o o1 b < <(side_by_side "$RUNS" "$cli" convert "$DATA/music_5min_320k.mp3" "$TMPOUT/c.wav" \
    -- "${one[@]}" "$cli" convert "$DATA/music_5min_320k.mp3" "$TMPOUT/c.wav" \
    -- mpg123 -q -w "$TMPOUT/m.wav" "$DATA/music_5min_320k.mp3")
report "cli convert 5-min 320k MP3 to WAV" "$o" "mpg123 -q -w" "$b" 0.6
report "cli convert 5-min 320k MP3 to WAV (1 thread)" "$o1" "mpg123 -q -w" "$b" 1.05

# As in the encode case: one thread writes lame's bytes, several an MP3 that decodes cleanly to
# the source's length.
runs=$((RUNS < 3 ? RUNS : 3))
read -r o o1 b < <(side_by_side "$runs" "$cli" convert "$DATA/music_5min.wav" "$TMPOUT/c.mp3" \
    --bitrate 128 -- "${one[@]}" "$cli" convert "$DATA/music_5min.wav" "$TMPOUT/c1.mp3" \
    --bitrate 128 -- lame --quiet -b 128 "$DATA/music_5min.wav" "$TMPOUT/l.mp3")
check_mp3 "cli convert" "$TMPOUT/c.mp3" "$DATA/music_5min.wav"
cmp -s "$TMPOUT/c1.mp3" "$TMPOUT/l.mp3" ||
    echo "cli convert (1 thread): output differs from lame -b 128" >&2
report "cli convert 5-min WAV to MP3 128k" "$o" "lame -b 128" "$b" 0.6
report "cli convert 5-min WAV to MP3 128k (1 thread)" "$o1" "lame -b 128" "$b" 1.05

read -r o b < <(side_by_side "$RUNS" "$cli" join "$TMPOUT/j.wav" "${joins[@]}" -- \
    bash -c 'cat "${@:2}" > "$1"' _ "$TMPOUT/cat.wav" "${joins[@]}")
report "cli join five 4-min WAVs" "$o" "cat" "$b" 1.5
read -r o b < <(side_by_side "$RUNS" "$cli" join "$TMPOUT/j.wav" "${joins[@]}" -- \
    sox "${joins[@]}" "$TMPOUT/sox.wav")
report "cli join five 4-min WAVs" "$o" "sox" "$b" 1.0

read -r o b < <(side_by_side "$RUNS" "$cli" cut "$DATA/music_5min.wav" "$TMPOUT/cut.wav" \
    --from 60000 --to 90000 -- sox "$DATA/music_5min.wav" "$TMPOUT/trim.wav" trim 60 30)
report "cli cut 30 s from a 5-min WAV" "$o" "sox trim" "$b" 1.0
rm -f "$TMPOUT"/*.wav "$TMPOUT"/*.mp3
