#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) in build-fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for SECONDS (default 60):
#   scripts/fuzz.sh [SECONDS] [TARGET...]     TARGET: wav_probe cut decode settings
# The corpus each target grows is kept in build-fuzz/corpus/<target>/ for the next run. Prints
# executions, executions per second and corpus size per target; fails on any crash, leak,
# timeout or running out of memory, and names the input that did it.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$PWD
seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(wav_probe cut decode settings)
dir=build-fuzz

scripts/deps.sh || exit 1
echo "== fuzz: build"
if ! scripts/build.sh "$dir" -DCMAKE_CXX_COMPILER=clang++ -DQUAVERLY_FUZZ=ON \
    -DQUAVERLY_BUILD_TESTS=OFF -DQUAVERLY_BUILD_BENCH=OFF -DQUAVERLY_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo --target fuzz_targets; then
    echo "== fuzz: BUILD FAILED"
    exit 1
fi
fuzz/make-seeds.sh "$dir/seeds" || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The targets write every input to a file: in memory (tmpfs) when there is one, as writing and
# truncating a file on disk again and again waits for the disk.
if ! TMPDIR=$(mktemp -d /dev/shm/quaverly-fuzz.XXXXXX 2>/dev/null); then
    TMPDIR=$top/$dir/tmp
fi
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT

failed=0
report=()
for t in "${targets[@]}"; do
    exe=$dir/fuzz/fuzz_$t
    corpus=$dir/corpus/$t
    artifacts=$top/$dir/artifacts/$t/
    log=$dir/fuzz-$t.log
    dict=()
    [[ -f fuzz/$t.dict ]] && dict=(-dict="fuzz/$t.dict")
    rm -rf "$artifacts"
    mkdir -p "$TMPDIR" "$corpus" "$artifacts"
    echo "== fuzz: $t for $seconds s"
    # Per input: 10 s, 2 GB resident, no single allocation over 512 MB (a size field believed
    # without a check). Leaks are looked for after every input that allocated more than it freed.
    "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
        -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$artifacts" "${dict[@]}" \
        "$corpus" "$dir/seeds/$t" >"$log" 2>&1
    rc=$?
    runs=$(grep -oE 'stat::number_of_executed_units: +[0-9]+' "$log" | awk '{print $2}')
    speed=$(grep -oE 'stat::average_exec_per_sec: +[0-9]+' "$log" | awk '{print $2}')
    files=$(find "$corpus" -type f | wc -l)
    kb=$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {printf "%.0f", s / 1024}')
    line=$(printf '%-14s %10s runs %7s exec/s  corpus %5s files %6s KB' "$t" "${runs:-?}" \
        "${speed:-?}" "$files" "$kb")
    artifact=$(find "$artifacts" -type f | head -1)
    if [[ $rc -ne 0 || -n "$artifact" ]]; then
        failed=$((failed + 1))
        line+="  FAILED"
        echo "-- $t: the end of $log:"
        tail -40 "$log"
        if [[ -n "$artifact" ]]; then
            echo "-- $t: reproducer: $artifact"
            echo "--   run it again: $exe $artifact"
        fi
    fi
    # A corpus grows with every run, and each run first replays all of it: past a few thousand
    # inputs it is merged down to the inputs that add coverage.
    if [[ $rc -eq 0 && -z "$artifact" && $files -gt 3000 ]]; then
        rm -rf "$corpus.merged"
        mkdir -p "$corpus.merged"
        if "$exe" -merge=1 -timeout=10 -rss_limit_mb=2048 "$corpus.merged" "$corpus" \
            >"$dir/merge-$t.log" 2>&1; then
            rm -rf "$corpus"
            mv "$corpus.merged" "$corpus"
            line+="  (merged to $(find "$corpus" -type f | wc -l) files)"
        fi
    fi
    echo "$line"
    report+=("$line")
done

echo "== fuzz: results ($seconds s per target)"
printf '%s\n' "${report[@]}"
[[ $failed -eq 0 ]]
