#!/usr/bin/env bash
# A private PulseAudio for the tests: a null sink whose monitor is remapped to a capture source,
# so what is played can be recorded back.
#   scripts/sound-server.sh start DIR   starts it, prints "export PULSE_SERVER=..." lines
#   scripts/sound-server.sh stop DIR    stops it by its PID
set -euo pipefail
cmd=$1
dir=$2
case "$cmd" in
start)
    mkdir -p "$dir/runtime" "$dir/home"
    chmod 700 "$dir/runtime"
    sock="$dir/runtime/pulse.sock"
    rm -f "$sock"
    XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" PULSE_RUNTIME_PATH="$dir/runtime" \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
        --log-target=file:"$dir/pulse.log" \
        -L "module-native-protocol-unix socket=$sock auth-anonymous=1" \
        -L "module-null-sink sink_name=testsink rate=44100 channels=2 norewinds=1" \
        -L "module-remap-source master=testsink.monitor source_name=testsink_loop" \
        </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/pulse.pid"
    for _ in $(seq 1 100); do
        if PULSE_SERVER="unix:$sock" pactl info >/dev/null 2>&1; then
            PULSE_SERVER="unix:$sock" pactl set-default-sink testsink
            PULSE_SERVER="unix:$sock" pactl set-default-source testsink_loop
            echo "export PULSE_SERVER=unix:$sock"
            exit 0
        fi
        sleep 0.1
    done
    echo "sound server did not start; see $dir/pulse.log" >&2
    exit 1
    ;;
stop)
    if [[ -f "$dir/pulse.pid" ]]; then
        pid=$(cat "$dir/pulse.pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$dir/pulse.pid"
    fi
    ;;
esac
