# The program under load: 200 songs in the list, a 3-hour MP3 added, and joins of gigabytes.
#  - 200 songs: the longest click, move and remove, in ms (limit 50: instant to the eye).
#  - A 3-hour 128k MP3 (the 5-minute one repeated, with one Xing tag, by ffmpeg): the add against
#    mpg123 -w, the longest time the window's event loop did not run (limit 500 ms) and the
#    memory peak above the idle window (limit 64 MiB: the song is never held in memory).
#  - Memory while a 20-minute list is saved to MP3 (the songs streamed into the encoder, a few
#    segments in flight on each core) stays as low as while one 4-minute song is: peak above the
#    idle window for five songs and for one (limit 64 MiB).
#  - A join of two sparse WAVs just under the 4 GiB a WAV holds, against cat + sync -d of the
#    same (twice each: it writes 17 GB); its size is checked. Three sparse WAVs over 4 GiB: refused
#    before anything is written (limit 0.5 s).
set -euo pipefail
source "$(dirname "$0")/../lib.sh"
bin=$BUILD/bench/quaverly_load_bench

read -r add click move remove < <("$bin" list 200 "$DATA/join1.wav")
echo "load: 200 songs added in ${add} s; longest click ${click} ms, move ${move} ms, remove ${remove} ms" >&2
longest=$(printf '%s\n' "$click" "$move" "$remove" | sort -g | tail -1)
report "load: 200 songs, longest click/move/remove ms" "$longest" "limit (ms)" 50 1.0

long=$DATA/music_3h_128k.mp3
[[ -f $long ]] || ffmpeg -v error -y -stream_loop 35 -i "$DATA/music_5min_128k.mp3" -c copy "$long"
read -r secs stall peak < <("$bin" add "$long")
base=$(median_time 1 mpg123 -q -w "$TMPOUT/long.wav" "$long")
rm -f "$TMPOUT/long.wav"
report "load: add 3-hour 128k MP3" "$secs" "mpg123 -q -w" "$base" 1.1
report "load: add 3-hour MP3, longest pause ms" "$stall" "limit (ms)" 500 1.0
report "load: add 3-hour MP3, peak MiB above idle" "$(awk -v k="$peak" 'BEGIN{print k/1024}')" \
    "limit (MiB)" 64 1.0

joins=("$DATA"/join{1,2,3,4,5}.wav)
one=$("$BUILD/bench/quaverly_window_bench" savemp3 "$TMPOUT/one.mp3" 128 "${joins[0]}" | awk '{print $2}')
five=$("$BUILD/bench/quaverly_window_bench" savemp3 "$TMPOUT/five.mp3" 128 "${joins[@]}" | awk '{print $2}')
rm -f "$TMPOUT/one.mp3" "$TMPOUT/five.mp3"
echo "load: MP3 save peak above idle: one song $((one / 1024)) MiB, five songs $((five / 1024)) MiB" >&2
report "load: save 20-min list to MP3, peak MiB above idle" "$(awk -v k="$five" 'BEGIN{print k/1024}')" \
    "limit (MiB)" 64 1.0

sparse=$TMPOUT/sparse
mkdir -p "$sparse/under" "$sparse/over"
"$bin" sparse "$sparse/under" 2 2147
"$bin" sparse "$sparse/over" 3 1500
# Each command runs twice, alternating, each time after a sync, and the faster run of each
# counts: the first big write after the cases before (gigabytes written and deleted) is slow
# whichever command makes it.
ours=999 base=999
for _ in 1 2; do
    sync
    t=$(median_time 1 "$BUILD/bench/quaverly_join_bench" "$TMPOUT/under.wav" "$sparse"/under/*.wav)
    size=$(stat -c %s "$TMPOUT/under.wav")
    rm -f "$TMPOUT/under.wav"
    if [[ $size -ne $((44 + 2 * 2147000000)) ]]; then
        echo "load: the join just under 4 GiB made $size bytes" >&2
        exit 1
    fi
    ours=$(printf '%s\n' "$ours" "$t" | sort -g | head -1)
    sync
    t=$(median_time 1 sh -c 'cat "$@" > "$0" && sync -d "$0"' "$TMPOUT/cat.wav" "$sparse"/under/*.wav)
    rm -f "$TMPOUT/cat.wav"
    base=$(printf '%s\n' "$base" "$t" | sort -g | head -1)
done
report "load: join two sparse WAVs to 4.29 GB" "$ours" "cat + sync -d" "$base" 1.5

s=$(date +%s.%N)
if "$BUILD/bench/quaverly_join_bench" "$TMPOUT/over.wav" "$sparse"/over/*.wav 2>/dev/null ||
    [[ -e $TMPOUT/over.wav ]]; then
    echo "load: the join over 4 GiB was not refused" >&2
    exit 1
fi
e=$(date +%s.%N)
report "load: join over 4 GiB refused, seconds" "$(awk -v s="$s" -v e="$e" 'BEGIN{print e - s}')" \
    "limit (s)" 0.5 1.0
rm -rf "$sparse"
