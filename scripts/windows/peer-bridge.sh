#!/usr/bin/env bash
# Runs the usual command-line tools (ffmpeg, lame, flac, ...) for the tests of the build for
# Windows: under wine they find no Linux tool and get no true exit code from one, so they leave
# each call as files in a folder and this serves them here (tests/support/Peers.h, with
# QUAVERLY_PEER_BRIDGE=DIR in the tests' environment).
#
#   scripts/windows/peer-bridge.sh DIR &    # serves DIR until DIR/stop exists or it gets TERM
#   touch DIR/stop
#
# The files of one call, ID unique per call:
#   ID.req   from the test, written under a temporary name and renamed, so that it is never read
#            half written: NUL-terminated UTF-8 fields: the time limit in seconds, the program,
#            its arguments (Unix paths).
#   ID.in    optional, present before ID.req: the program's standard input (else none).
#   ID.out, ID.err  from here: the program's standard output and error; then last, through a
#            temporary name ID.code.part,
#   ID.code  its exit status, "timeout" when the time limit ended it, or "nostart" when it could
#            not be started.
# The test removes the files of its call once it has read ID.code. Calls run side by side, each
# in the background. DIR/serving exists while this serves DIR.
set -u
dir=${1:?usage: peer-bridge.sh DIR}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
rm -f "$dir/stop"

# Puts `$2` into place as "$dir/$1" through a temporary name.
answer() {
    printf '%s\n' "$2" >"$dir/$1.part" && mv -f "$dir/$1.part" "$dir/$1"
}

# Serves one call. Besides the tool, it starts two processes (timeout, mv): each costs
# milliseconds, and a test run makes thousands of calls.
serve() {
    local id=$1 fields input=/dev/null code
    mapfile -d '' -t fields <"$dir/$id.req"
    local limit=${fields[0]} argv=("${fields[@]:1}")
    [[ -f $dir/$id.in ]] && input=$dir/$id.in
    if [[ ${#argv[@]} -eq 0 ]] || ! command -v -- "${argv[0]}" >/dev/null; then
        : >"$dir/$id.out"
        echo "${argv[0]:-}: not found" >"$dir/$id.err"
        code=nostart
    else
        timeout -k 5 "$limit" "${argv[@]}" <"$input" >"$dir/$id.out" 2>"$dir/$id.err"
        code=$?
        [[ $code -eq 124 ]] && code=timeout
    fi
    answer "$id.code" "$code"
}

answer serving $$
trap 'rm -f "$dir/serving"; exit 0' TERM INT
trap 'rm -f "$dir/serving"' EXIT
# A pause without starting a process: a read that times out on a pipe nobody writes to.
exec {idle}<> <(:)
declare -A taken # the calls served, by ID
while [[ ! -e $dir/stop ]]; do
    for request in "$dir"/*.req; do
        id=${request##*/}
        id=${id%.req}
        [[ -e $request && -z ${taken[$id]:-} ]] || continue
        taken[$id]=1
        serve "$id" &
    done
    read -r -t 0.002 -u "$idle" || true
done
wait
