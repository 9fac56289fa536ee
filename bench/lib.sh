# Shared by the benchmark cases. A case prints one line per comparison:
#   report NAME OURS_SECONDS BASELINE_NAME BASELINE_SECONDS TARGET_RATIO
# where the ratio OURS/BASELINE must not exceed TARGET_RATIO.

# median: the median of the numbers on stdin, one a line.
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

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
    printf '%s\n' "${times[@]}" | median
}

# command_starts ARGS...: sets the caller's array `starts` to where each command of ARGS begins
# (commands are separated by --), followed by one past the end.
command_starts() {
    local args=("$@") i
    starts=(0)
    for i in "${!args[@]}"; do
        [[ ${args[i]} == -- ]] && starts+=($((i + 1)))
    done
    starts+=($((${#args[@]} + 1)))
}

# print_medians: prints the median of each of the caller's `times` (a string of seconds per
# command, `count` of them), in order.
print_medians() {
    local medians=() c
    for ((c = 0; c < count; c++)); do
        # shellcheck disable=SC2086 # the times are split on purpose
        medians+=("$(printf '%s\n' ${times[c]} | median)")
    done
    echo "${medians[*]}"
}

# side_by_side N CMD_A... -- CMD_B... [-- CMD_C...]: runs the commands in turn, N rounds, and
# prints the median wall time of each, in the order given, so all see the same machine load.
side_by_side() {
    local n=$1
    shift
    local args=("$@") starts c
    command_starts "$@"
    local count=$((${#starts[@]} - 1)) times=() t
    for _ in $(seq 1 "$n"); do
        for ((c = 0; c < count; c++)); do
            t=$(median_time 1 "${args[@]:starts[c]:starts[c + 1] - starts[c] - 1}") || return 1
            times[c]="${times[c]:-} $t"
        done
    done
    print_medians
}

# wav_data_bytes FILE.wav: the size of the WAV file's data chunk, from its header.
wav_data_bytes() {
    local file=$1 offset=12 size id length
    size=$(stat -c %s "$file")
    while ((offset + 8 <= size)); do
        id=$(dd if="$file" bs=1 skip="$offset" count=4 status=none)
        length=$(od -An -t u4 -j $((offset + 4)) -N 4 --endian=little "$file" | tr -d ' ')
        if [[ $id == data ]]; then
            echo "$length"
            return 0
        fi
        offset=$((offset + 8 + length + length % 2)) # chunks are padded to an even size
    done
    echo "no data chunk in $file" >&2
    return 1
}

# check_mp3 LABEL OUT.mp3 SOURCE.wav: OUT.mp3 must decode with mpg123 without a single warning
# and to exactly the samples of SOURCE.wav (gapless, from the encoder's delay and padding in the
# info frame). Says on stderr what is wrong; the timings still count. mpg123 runs without -q:
# -q silences libmpg123's own warnings (a damaged frame, a bit reservoir that cannot be rewound,
# data past the announced end), which are what this looks for; the lines every decode prints are
# left out.
check_mp3() {
    local label=$1 mp3=$2 source=$3 decoded=$TMPOUT/check_mp3.wav warnings ours theirs
    if ! warnings=$(mpg123 -w "$decoded" "$mp3" 2>&1 >/dev/null); then
        echo "$label: mpg123 cannot decode our MP3" >&2
        rm -f "$decoded"
        return 0
    fi
    warnings=$(grep -v -E -e '^[[:space:]]*$' -e '^High Performance MPEG' \
        -e '^[[:space:]]+(version|free software)' -e '^Directory: ' -e '^Playing MPEG stream ' \
        -e '^MPEG [0-9.]+ L I+ ' -e '^\[[0-9:]+\] Decoding of .* finished\.$' \
        <<<"$warnings" || true)
    [[ -z $warnings ]] || printf '%s: mpg123 warns on our MP3:\n%s\n' "$label" "$warnings" >&2
    ours=$(wav_data_bytes "$decoded") theirs=$(wav_data_bytes "$source")
    [[ $ours == "$theirs" ]] ||
        echo "$label: our MP3 decodes to $ours bytes of samples, the source holds $theirs" >&2
    rm -f "$decoded"
}

report() {
    printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$5"
}
