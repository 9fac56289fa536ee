#!/usr/bin/env bash
# Adding a 5-minute song of the other formats (its working copy through the song reader, as the
# list makes it) against each format's own decoder writing a WAV file: FLAC against `flac -d`,
# AAC 256k in M4A against `ffmpeg -i IN OUT.wav`, Opus against `opusdec`.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

src=$DATA/music_5min.wav
dir=$DATA/formats
bin=$BUILD/bench/quaverly_decode_bench
mkdir -p "$dir"
# Made once beside the other material; the encoders are deterministic.
[[ -f $dir/music_5min.flac ]] || flac -s -f "$src" -o "$dir/music_5min.flac"
[[ -f $dir/music_5min_256k.m4a ]] ||
    ffmpeg -v error -y -i "$src" -c:a aac -b:a 256k "$dir/music_5min_256k.m4a"
[[ -f $dir/music_5min.opus ]] || opusenc --quiet "$src" "$dir/music_5min.opus"

ours=$TMPOUT/formats-ours.wav
base=$TMPOUT/formats-base.wav
samples() { tail -c +45 "$1"; }

# Before timing: the samples must be the reference's (FLAC: the source's; M4A: FFmpeg's up to
# the track's stated end; Opus: FFmpeg's, the same library).
"$bin" "$dir/music_5min.flac" "$ours"
cmp -s <(samples "$ours") <(samples "$src") || { echo "formats: FLAC samples differ" >&2; exit 1; }
for f in music_5min_256k.m4a music_5min.opus; do
    "$bin" "$dir/$f" "$ours"
    n=$(($(stat -c %s "$ours") - 44))
    cmp -s <(samples "$ours") <(ffmpeg -v error -i "$dir/$f" -f s16le - | head -c "$n") ||
        { echo "formats: $f samples differ from ffmpeg's" >&2; exit 1; }
done

read -r t_ours t_base < <(side_by_side "$RUNS" "$bin" "$dir/music_5min.flac" "$ours" -- \
    flac -s -d -f "$dir/music_5min.flac" -o "$base")
report "add 5-min FLAC (working copy)" "$t_ours" "flac -d -f" "$t_base" 1.0
read -r t_ours t_base < <(side_by_side "$RUNS" "$bin" "$dir/music_5min_256k.m4a" "$ours" -- \
    ffmpeg -v error -y -i "$dir/music_5min_256k.m4a" "$base")
report "add 5-min AAC 256k M4A (working copy)" "$t_ours" "ffmpeg -i IN OUT.wav" "$t_base" 1.0
read -r t_ours t_base < <(side_by_side "$RUNS" "$bin" "$dir/music_5min.opus" "$ours" -- \
    opusdec --quiet "$dir/music_5min.opus" "$base")
report "add 5-min Opus (working copy)" "$t_ours" "opusdec" "$t_base" 1.0
rm -f "$ours" "$base"
