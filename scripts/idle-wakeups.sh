#!/usr/bin/env bash
# Counts how often the idle window wakes up: scripts/idle-wakeups.sh [BUILD_DIR] [SECONDS]
# Starts the window off screen on the virtual sound device with three songs in its list, waits
# until it has settled, then counts the context switches of each of its threads over SECONDS
# (default 10) and prints them per second, busiest thread first, with the total.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-10}
app=$build/src/app/quaverly
[[ -x $app ]] || { echo "no $app: build it first" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed to make the songs" >&2; exit 1; }

dir=$(mktemp -d)
pid=
cleanup() {
    [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
for i in 1 2 3; do
    sox -n -r 44100 -c 2 -b 16 "$dir/song$i.wav" synth $((i * 3)) sine $((220 * i))
done
mkdir -p "$dir/config" "$dir/cache" "$dir/work"

XDG_CONFIG_HOME=$dir/config XDG_CACHE_HOME=$dir/cache QUAVERLY_WORK_BASE=$dir/work \
    QT_QPA_PLATFORM=offscreen QUAVERLY_AUDIO=virtual \
    "$app" "$dir"/song*.wav >"$dir/out.log" 2>&1 &
pid=$!

# Settled: the songs' working copies are made and the thread count has stayed put for 2 s.
threads() { ls "/proc/$pid/task" 2>/dev/null | wc -l; }
copies() { find "$dir/work" -name '*.wav' 2>/dev/null | wc -l; }
deadline=$((SECONDS + 60))
until [[ $(copies) -ge 3 ]]; do
    [[ $SECONDS -lt $deadline ]] || { echo "the songs did not join the list" >&2; exit 1; }
    kill -0 "$pid" || { cat "$dir/out.log" >&2; exit 1; }
    sleep 0.2
done
last=-1
while [[ $(threads) != "$last" ]]; do
    last=$(threads)
    sleep 2
done

# tid name switches, one line per thread
sample() {
    for t in /proc/$pid/task/*; do
        awk -v tid="${t##*/}" -v name="$(cat "$t/comm")" \
            '/ctxt_switches/ { n += $2 } END { gsub(/ /, "_", name); print tid, name, n }' "$t/status"
    done
}
sample | sort >"$dir/before"
sleep "$seconds"
sample | sort >"$dir/after"

join "$dir/before" "$dir/after" |
    awk -v s="$seconds" '{ d = $5 - $3; total += d; printf "%8.1f/s  %s (%s)\n", d / s, $2, $1 }
                         END { printf "%8.1f/s  total\n", total / s }' |
    sort -rn
