#!/usr/bin/env bash
# Packs PNG images into one Windows icon file: make-ico.sh OUT.ico IN.png...
# Each image is stored whole as a PNG entry (Windows Vista and later read those), square and at
# most 256 px; the entries keep the order given.
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 OUT.ico IN.png..." >&2; exit 2; }
out=$1
shift

# Little-endian integers of 1, 2 and 4 bytes, as raw bytes.
byte() { printf "\\x$(printf %02x "$1")"; }
le16() { byte $(($1 & 255)); byte $(($1 >> 8 & 255)); }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }

# A PNG's width and height: big-endian at bytes 16 and 20, after the signature and IHDR's head.
png_side() {
    local -a b
    read -r -a b < <(od -An -tu1 -j16 -N8 "$1")
    [[ ${#b[@]} -eq 8 && $(head -c8 "$1" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] ||
        { echo "make-ico: $1: not a PNG file" >&2; exit 1; }
    local w=$((b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]))
    local h=$((b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7]))
    ((w == h && w >= 1 && w <= 256)) ||
        { echo "make-ico: $1: ${w}x${h}: an icon's image is square, at most 256 px" >&2; exit 1; }
    echo "$w"
}

tmp=$out.tmp
{
    le16 0        # reserved
    le16 1        # type: icon
    le16 $#       # entries
    offset=$((6 + 16 * $#))
    for png in "$@"; do
        side=$(png_side "$png")
        size=$(stat -c %s "$png")
        byte $((side & 255)) # width (0 stands for 256)
        byte $((side & 255)) # height
        byte 0               # no palette
        byte 0               # reserved
        le16 1               # colour planes
        le16 32              # bits per pixel
        le32 "$size"
        le32 "$offset"
        offset=$((offset + size))
    done
    cat "$@"
} >"$tmp"
mv "$tmp" "$out"
