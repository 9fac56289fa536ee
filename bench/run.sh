#!/usr/bin/env bash
# Runs every benchmark case side by side with its baseline and prints one table of ratios.
#   bench/run.sh [CASE...]     (cases are bench/cases/NAME.sh; default: all)
# Material is made once into perfwork/data (about 95 s); RUNS sets the repetitions (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/deps.sh --bench
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release >/dev/null
export DATA=${DATA:-$top/perfwork/data}
export BUILD=$top/build
export RUNS=${RUNS:-5}
export TMPOUT=$(mktemp -d)
trap 'rm -rf "$TMPOUT"' EXIT
if [[ ! -f "$DATA/SHA256SUMS" ]]; then
    echo "making benchmark material in $DATA ..." >&2
    bench/make-data.sh "$DATA" >&2
fi
cases=("$@")
[[ ${#cases[@]} -eq 0 ]] && cases=($(cd bench/cases && ls *.sh | sed 's/\.sh$//'))

results=$TMPOUT/results.tsv
: >"$results"
for c in "${cases[@]}"; do
    echo "running $c ..." >&2
    bash "bench/cases/$c.sh" >>"$results"
done
echo
printf '%-44s %9s  %-28s %9s %7s %7s  %s\n' benchmark ours baseline base ratio target verdict
awk -F'\t' '{r = $2 / $4; printf "%-44s %8.3fs  %-28s %8.3fs %7.3f %7.2f  %s\n", $1, $2, $3, $4, r, $5, (r <= $5 ? "ok" : "SLOW")}' "$results"
