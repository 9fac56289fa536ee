#!/usr/bin/env bash
# Reads a ctest log and prints "PASSED FAILED SKIPPED" (ctest counts a skipped test as passed;
# here it is counted once, as skipped). Exits 1, printing nothing, when the log holds no result.
# Usage: scripts/ctest-counts.sh LOG
set -euo pipefail
line=$(grep -oE '[0-9]+ tests? failed out of [0-9]+' "$1" | tail -1) || exit 1
skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$1" || true)
awk -v s="$skipped" '{print $6 - $1 - s, $1, s}' <<<"$line"
