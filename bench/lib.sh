# Shared by the benchmark cases. A case prints one line per comparison:
#   report NAME OURS_SECONDS BASELINE_NAME BASELINE_SECONDS TARGET_RATIO
# where the ratio OURS/BASELINE must not exceed TARGET_RATIO.

# median_time N CMD...: runs CMD N times and prints the median wall time in seconds.
median_time() {
    local n=$1
    shift
    local times=()
    for _ in $(seq 1 "$n"); do
        local s e
        s=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || { echo "command failed: $*" >&2; return 1; }
        e=$(date +%s.%N)
        times+=("$(awk -v s="$s" -v e="$e" 'BEGIN{printf "%.6f", e - s}')")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

# side_by_side N OURS_CMD -- BASE_CMD: alternates the two commands N times each and prints
# "OURS_MEDIAN BASE_MEDIAN", so both see the same machine load.
side_by_side() {
    local n=$1
    shift
    local ours=() base=() seen=0
    for a in "$@"; do
        if [[ $a == -- ]]; then seen=1; continue; fi
        if [[ $seen -eq 0 ]]; then ours+=("$a"); else base+=("$a"); fi
    done
    local to=() tb=()
    for _ in $(seq 1 "$n"); do
        to+=("$(median_time 1 "${ours[@]}")") || return 1
        tb+=("$(median_time 1 "${base[@]}")") || return 1
    done
    local mo mb
    mo=$(printf '%s\n' "${to[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    mb=$(printf '%s\n' "${tb[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    echo "$mo $mb"
}

report() {
    printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$5"
}
