#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: a normal build and one
# under AddressSanitizer and UndefinedBehaviorSanitizer (the normal build's Debian package is
# checked in between); then the tests that run threads once more under ThreadSanitizer; last,
# each fuzz target for a short while. A private sound server runs meanwhile.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/deps.sh || exit 1

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=suppressions=$top/tests/tsan.supp:second_deadlock_stack=1

server=$(mktemp -d /tmp/quaverly-sound.XXXXXX)
cleanup() { scripts/sound-server.sh stop "$server"; rm -rf "$server"; }
trap cleanup EXIT
if env_lines=$(scripts/sound-server.sh start "$server"); then
    eval "$env_lines"
else
    echo "warning: no private sound server; sound-server tests will fail" >&2
fi

passed=0
failed=0
skipped=0
run_suite() { # DIR LABEL TEST-LABELS BUILD-ARGS...
    # TEST-LABELS: a ctest label expression choosing the tests to run, empty for all of them.
    # BUILD-ARGS: cmake options and --target names for scripts/build.sh.
    local dir=$1 label=$2 only=$3
    shift 3
    echo "== $label: build"
    if ! scripts/build.sh "$dir" "$@"; then
        echo "== $label: BUILD FAILED"
        failed=$((failed + 1))
        return
    fi
    echo "== $label: tests"
    local log="$dir/ctest.log"
    ctest --test-dir "$dir" ${only:+-L "$only"} --output-on-failure -j "$(nproc)" --timeout 300 \
        2>&1 | tee "$log"
    local counts p f s
    if ! counts=$(scripts/ctest-counts.sh "$log"); then
        echo "== $label: no test result"
        failed=$((failed + 1))
        return
    fi
    read -r p f s <<<"$counts"
    passed=$((passed + p))
    skipped=$((skipped + s))
    failed=$((failed + f))
}

# Warnings are errors here (and so in CI), not in a user's or packager's build.
run_suite build "normal build" "" -DQUAVERLY_WERROR=ON
# The Debian package made from that build and checked, unpacked: one step.
echo "== package"
if scripts/check-package.sh build; then
    passed=$((passed + 1))
else
    echo "== package: FAILED"
    failed=$((failed + 1))
fi
run_suite build-asan "sanitizer build" "" -DQUAVERLY_WERROR=ON -DQUAVERLY_SANITIZE=ON \
    -DQUAVERLY_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
# Only the sound core's tests that run threads (no widgets), optimised: TSan slows them down.
run_suite build-tsan "thread sanitizer build" "threads|pulse" -DQUAVERLY_WERROR=ON \
    -DQUAVERLY_SANITIZE=thread -DQUAVERLY_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    --target engines_threads_tests

# The fuzz targets, 15 s each on the corpus earlier runs grew: one step, failed by any crash,
# leak, hang or running out of memory.
echo "== fuzzing"
if scripts/fuzz.sh 15; then
    passed=$((passed + 1))
else
    echo "== fuzzing: FAILED"
    failed=$((failed + 1))
fi

echo
echo "Summary: $passed passed, $failed failed, $skipped skipped"
[[ $failed -eq 0 && $passed -gt 0 ]]
