#!/usr/bin/env bash
# WAV to MP3 at 128 kbit/s as the window's MP3 jobs encode it (one encoding order, encodeMetered)
# against the lame command with the same settings, with the codec threads as set (every core by
# default) and with one thread. With one thread ours must write lame's very bytes; with several,
# segments encoded apart and spliced differ from them, so the MP3 must instead decode cleanly to
# the source's exact length. The case says on stderr when either fails. Each run takes about 7 s,
# so at most 3 runs (RUNS may ask for fewer).
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

in=$DATA/music_5min.wav
runs=$((RUNS < 3 ? RUNS : 3))
bin=$BUILD/bench/quaverly_encode_bench
ours=$TMPOUT/encode_ours.mp3
one=$TMPOUT/encode_one.mp3
theirs=$TMPOUT/encode_lame.mp3

read -r t_ours t_one t_lame < <(side_by_side "$runs" "$bin" "$in" "$ours" 128 -- \
    env QUAVERLY_CODEC_THREADS=1 "$bin" "$in" "$one" 128 -- lame --quiet -b 128 "$in" "$theirs")
check_mp3 encode "$ours" "$in"
cmp -s "$one" "$theirs" || echo "encode (1 thread): output differs from lame -b 128" >&2
rm -f "$ours" "$one" "$theirs"
report "encode 5-min WAV to MP3 128k (encodeMetered)" "$t_ours" "lame -b 128" "$t_lame" 0.6
report "encode 5-min WAV to MP3 128k (encodeMetered) (1 thread)" "$t_one" "lame -b 128" "$t_lame" 1.05

# The splices on real music: each spliced stretch of 50 ms against the single pass, beside the
# same comparison over every other 50 ms (two encodings of one sound differ everywhere a little).
for kbps in 96 128 256; do
    echo "encode: splices of the 5-min WAV at $kbps kbit/s:" >&2
    "$BUILD/bench/quaverly_splice_quality" "$in" "$kbps" "$TMPOUT" | tail -2 | sed 's/^/    /' >&2
done
rm -f "$TMPOUT/single.mp3" "$TMPOUT/spliced.mp3"
