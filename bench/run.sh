#!/usr/bin/env bash
# Runs every benchmark case side by side with its baseline and prints one table of ratios.
#   bench/run.sh [CASE...]     (cases are bench/cases/NAME.sh; default: all)
# Material is made once into perfwork/data (about 95 s); RUNS sets the repetitions (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/deps.sh --bench
# The same optimised build (RelWithDebInfo) that scripts/run.sh starts.
scripts/build.sh build >/dev/null
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
# The codec threads as the programs read QUAVERLY_CODEC_THREADS (a whole number 1 to 64), else
# every online core, at most 64. Rows named "(1 thread)" set it to 1 for themselves.
online=$(getconf _NPROCESSORS_ONLN)
all=$((online > 64 ? 64 : online))
threads="$all (every core; QUAVERLY_CODEC_THREADS unset)"
if [[ -n ${QUAVERLY_CODEC_THREADS+set} ]]; then
    threads="$all (every core; QUAVERLY_CODEC_THREADS=$QUAVERLY_CODEC_THREADS ignored)"
    if [[ $QUAVERLY_CODEC_THREADS =~ ^[[:space:]]*[+]?0*([0-9]{1,2})$ ]] &&
        ((BASH_REMATCH[1] >= 1 && BASH_REMATCH[1] <= 64)); then
        threads="$((10#${BASH_REMATCH[1]})) (QUAVERLY_CODEC_THREADS)"
    fi
fi
echo
echo "cores (nproc): $(nproc); codec threads: $threads"
printf '%-58s %9s  %-28s %9s %7s %7s  %s\n' benchmark ours baseline base ratio target verdict
# Times are in seconds; a row whose baseline is a limit carries its own unit in the name.
awk -F'\t' '{r = $2 / $4; u = ($3 ~ /^limit/ ? " " : "s");
    printf "%-58s %8.3f%s  %-28s %8.3f%s %7.3f %7.2f  %s\n", $1, $2, u, $3, $4, u, r, $5, (r <= $5 ? "ok" : "SLOW")}' "$results"
