#!/usr/bin/env bash
# The 5-minute WAV into Ogg Vorbis, Opus and FLAC by `quaverly-cli convert`, against each
# format's own tool at the same setting (the same libraries underneath): oggenc -q 6,
# opusenc --bitrate 128, flac -5. Before the table counts them, the results must hold the same
# sound as the tools' (Vorbis, Opus) or the source's very samples (FLAC); the case says on stderr
# when they do not.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

cli=$BUILD/src/cli/quaverly-cli
src=$DATA/music_5min.wav
if ! "$cli" convert --help 2>&1 | grep -q -- --quality; then
    echo "encode-xiph: this quaverly-cli writes no Ogg Vorbis, Opus or FLAC yet; skipped" >&2
    exit 0
fi
ours=$TMPOUT/xiph-ours
base=$TMPOUT/xiph-base
samples() { tail -c +45 "$1"; } # the samples of a WAV with the 44-byte header

read -r t_ours t_base < <(side_by_side "$RUNS" "$cli" convert "$src" "$ours.ogg" --quality 6 -- \
    oggenc -Q -q 6 -o "$base.ogg" "$src")
cmp -s <(oggdec -Q -R -o - "$ours.ogg") <(oggdec -Q -R -o - "$base.ogg") ||
    echo "encode-xiph: our Ogg Vorbis decodes to other sound than oggenc -q 6's" >&2
report "encode: 5-min WAV to Ogg Vorbis q6" "$t_ours" "oggenc -q 6" "$t_base" 1.0

read -r t_ours t_base < <(side_by_side "$RUNS" "$cli" convert "$src" "$ours.opus" --bitrate 128 \
    -- opusenc --quiet --bitrate 128 "$src" "$base.opus")
cmp -s <(ffmpeg -v error -i "$ours.opus" -f s16le -) <(ffmpeg -v error -i "$base.opus" -f s16le -) ||
    echo "encode-xiph: our Opus decodes to other sound than opusenc --bitrate 128's" >&2
report "encode: 5-min WAV to Opus 128k" "$t_ours" "opusenc --bitrate 128" "$t_base" 1.0

# Compression level 5 is FLAC's default, ours and the tool's.
read -r t_ours t_base < <(side_by_side "$RUNS" "$cli" convert "$src" "$ours.flac" -- \
    flac -s -f -5 -o "$base.flac" "$src")
flac -s -t "$ours.flac" || echo "encode-xiph: flac -t finds our FLAC damaged" >&2
cmp -s <(ffmpeg -v error -i "$ours.flac" -f s16le -) <(samples "$src") ||
    echo "encode-xiph: our FLAC decodes to other samples than the source's" >&2
report "encode: 5-min WAV to FLAC -5" "$t_ours" "flac -5" "$t_base" 1.0
rm -f "$ours".* "$base".*
