#!/usr/bin/env bash
# Cuts that keep the song's own frames: 30 s from a 5-minute 320k MP3 and from a 5-minute 256k
# M4A, against FFmpeg's stream copy of the same stretch and against our own cut that decodes and
# encodes again (--reencode).
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

cli=$BUILD/src/cli/quaverly-cli

# cut_rows LABEL SONG EXT: the two rows of one song. --copy makes a cut that could not keep the
# frames fail rather than be timed as a re-encoding; such a song's rows are left out, said why.
cut_rows() {
    local label=$1 song=$2 ext=$3 why o b r
    if [[ ! -f $song ]]; then
        echo "cut-copy: $song is missing: bench/make-data.sh makes it" >&2
        return 0
    fi
    if ! why=$("$cli" cut "$song" "$TMPOUT/keep.$ext" --from 60000 --to 90000 --copy --quiet 2>&1); then
        echo "cut-copy: $label: the frames are not kept: $why" >&2
        return 0
    fi
    read -r o b r < <(side_by_side "$RUNS" \
        "$cli" cut "$song" "$TMPOUT/keep.$ext" --from 60000 --to 90000 --copy --quiet \
        -- ffmpeg -v error -nostdin -y -ss 60 -to 90 -i "$song" -c copy "$TMPOUT/ff.$ext" \
        -- "$cli" cut "$song" "$TMPOUT/again.$ext" --from 60000 --to 90000 --reencode --quiet)
    report "cut 30 s from a 5-min $label, keeping frames" "$o" "ffmpeg -ss -to -c copy" "$b" 1.0
    report "cut 30 s from a 5-min $label, keeping frames" "$o" "our cut --reencode" "$r" 0.05
}

cut_rows "320k MP3" "$DATA/music_5min_320k.mp3" mp3
cut_rows "256k M4A" "$DATA/music_5min_256k.m4a" m4a
rm -f "$TMPOUT"/keep.* "$TMPOUT"/ff.* "$TMPOUT"/again.*
