#!/usr/bin/env bash
# Makes the fuzz targets' seed inputs in OUT/<target>/: fuzz/make-seeds.sh OUT
# The texts kept in fuzz/corpus/, the small real files of tests/data/real/ and tests/data/formats/,
# the inputs earlier runs found (tests/data/fuzz/), a few small WAV files of each kind (made with
# sox) and MP3 files (made with lame); the cut's seeds are WAV files behind the cut's nine bytes of
# arguments. The decode's seeds of the other
# formats (FLAC, AIFF/AIFC, CAF, W64, RF64, M4A with AAC and ALAC, ADTS, Ogg Vorbis and Opus, WMA)
# are kept in fuzz/corpus/decode/, made once with flac, sox, ffmpeg, oggenc and opusenc.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$1
rm -rf "$out"
mkdir -p "$out"/{wav_probe,decode,cut,settings}
cp fuzz/corpus/settings/* "$out/settings/"
cp fuzz/corpus/decode/* "$out/decode/"

# Real files up to 16 KB: large inputs only slow the fuzzer down.
find tests/data/real/wav -name '*.wav' -size -16k -exec cp -t "$out/wav_probe" {} +
find tests/data/real/wav tests/data/real/mp3 \( -name '*.wav' -o -name '*.mp3' -o -name '*.bit' \) \
    -size -16k -exec cp -t "$out/decode" {} +
# What earlier runs found (tests/data/fuzz/), so that each run checks it again.
find tests/data/fuzz -type f ! -name '*.md' -exec cp -t "$out/decode" {} +
find tests/data/formats -type f ! -name '*.md' ! -path '*/LICENSES/*' -size -16k \
    -exec cp -t "$out/decode" {} +

gen=$(mktemp -d)
trap 'rm -rf "$gen"' EXIT
tone() { sox -q -n -r "$1" -c "$2" "${@:4}" "$gen/$3" synth 0.02 sine 440; }
tone 8000 1 u8.wav -b 8
tone 44100 2 s16.wav -b 16
tone 48000 2 s24.wav -b 24
tone 22050 1 float.wav -e floating-point -b 32
tone 8000 1 alaw.wav -e a-law
tone 8000 1 ima.wav -e ima-adpcm
tone 8000 1 gsm.wav -e gsm-full-rate
tone 11025 3 tri.wav -b 16
# A canonical header whose data size claims far more than the file holds.
{ printf 'RIFF\xff\xff\xff\x7fWAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00\x44\xac\x00\x00'
  printf '\x10\xb1\x02\x00\x04\x00\x10\x00data\xf0\xff\xff\x7f'; head -c 64 /dev/zero; } \
    >"$gen/long-data.wav"
sox -q -n -r 44100 -c 1 "$gen/mono.wav" synth 0.1 sine 1000
sox -q -n -r 22050 -c 2 "$gen/stereo.wav" synth 0.1 sine 500
lame --quiet -b 32 "$gen/mono.wav" "$gen/mono-32k.mp3"
lame --quiet -V 9 "$gen/stereo.wav" "$gen/stereo-vbr.mp3"
# Cut seeds: the cut's nine bytes of arguments (see fuzz/FuzzCut.cpp) before a WAV file, for a
# short stretch near its start and, over the file itself, a range that ends at the largest end.
for f in tests/data/real/wav/wavefile/valid/mono_pcm_16_44100_junk_chunk_with_padding_byte.wav \
    tests/data/real/wav/wavefile/invalid/data_chunk_truncated.wav \
    tests/data/real/wav/hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav "$gen/u8.wav" \
    "$gen/s16.wav"; do
    name=$(basename "$f")
    { printf '\x02\x00\x00\x00\x09\x00\x00\x00\x00'; cat "$f"; } >"$out/cut/middle-$name"
    { printf '\x00\x00\x00\x00\xff\xff\xff\xff\x01'; cat "$f"; } >"$out/cut/whole-$name"
done
cp "$gen"/*.wav "$out/wav_probe/"
cp "$gen"/*.wav "$gen"/*.mp3 "$out/decode/"
