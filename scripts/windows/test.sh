#!/usr/bin/env bash
# The Windows half of the test command: cross-builds Quaverly for Windows with warnings as errors,
# runs the normal suite under wine64 (a private WINEPREFIX; the peer tools run on the Linux side
# through scripts/windows/peer-bridge.sh), then makes the installer and the portable zip and checks
# them (scripts/windows/check-package.sh, their command line against the Linux build's). Prints a
# summary line as scripts/test.sh does.
# Usage: scripts/windows/test.sh [BUILD-DIR]   (default build-win)
set -uo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build-win}

export QT_QPA_PLATFORM=offscreen
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/quaverly-wine.XXXXXX)
export WINEPREFIX
bridge=$(mktemp -d /tmp/quaverly-peers.XXXXXX)
# A private sound server, as the Linux half has: wine's WASAPI plays into its null sink and
# records from its sources. The tests that stop or kill it find it by its folder.
QUAVERLY_SOUND_SERVER_DIR=$(mktemp -d /tmp/quaverly-sound.XXXXXX)
export QUAVERLY_SOUND_SERVER_DIR
cleanup() {
    touch "$bridge/stop"
    wait 2>/dev/null
    WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null
    scripts/sound-server.sh stop "$QUAVERLY_SOUND_SERVER_DIR"
    rm -rf "$bridge" "$WINEPREFIX" "$QUAVERLY_SOUND_SERVER_DIR"
}
trap cleanup EXIT
if ! server=$(scripts/sound-server.sh start "$QUAVERLY_SOUND_SERVER_DIR"); then
    echo "Summary: 0 passed, 1 failed, 0 skipped"
    exit 1
fi
eval "$server"
# Wine's PulseAudio driver asks the server for a short buffer that a timer thread of its own must
# refill every few milliseconds; in two of four full runs one sound test heard a gap of about
# 10 ms. A desktop's slack for its streams (libpulse's own setting) is meant to absorb that.
export PULSE_LATENCY_MSEC=100
# The bridge runs the Linux side's tools (parec, paplay, pactl among them) on that server.
scripts/windows/peer-bridge.sh "$bridge" &
# The tests under wine see the bridge's folder through wine's Z: drive.
export QUAVERLY_PEER_BRIDGE="Z:$bridge"

passed=0
failed=0
skipped=0
echo "== windows build"
if ! scripts/windows/build.sh "$dir" -DQUAVERLY_WERROR=ON; then
    echo "== windows build: BUILD FAILED"
    echo "Summary: 0 passed, 1 failed, 0 skipped"
    exit 1
fi
# The prefix is made once before the tests start in parallel. Its sound goes to the sound server
# only: with none there, wine would try ALSA, which finds no card here.
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1

echo "== windows tests (under wine)"
# The tests that cannot run under wine, with their reasons, are left out.
waiting=$(grep -v '^#' scripts/windows/tests-waiting.txt | awk NF)
echo "Left out under wine, with the reason:"
sed 's/^/    /' <<<"$waiting"
exclude=$(awk '{ gsub(/[.]/, "\\."); print "^" $1 "$" }' <<<"$waiting" | paste -sd'|')
log=$dir/ctest.log
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300 ${exclude:+-E "$exclude"} \
    2>&1 | tee "$log"
if counts=$(scripts/ctest-counts.sh "$log"); then
    read -r p f s <<<"$counts"
    passed=$((passed + p))
    skipped=$((skipped + s))
    failed=$((failed + f))
else
    echo "== windows tests: no test result"
    failed=$((failed + 1))
fi

# The installer and the zip made from that build and checked under wine, their command line
# against the Linux build's: one step.
echo "== windows package"
dist=$(mktemp -d /tmp/quaverly-dist.XXXXXX)
if scripts/build.sh build --target quaverly-cli >/dev/null &&
    scripts/windows/package.sh "$dist" --build-dir "$dir" &&
    scripts/windows/check-package.sh "$dist" build/src/cli/quaverly-cli; then
    passed=$((passed + 1))
else
    echo "== windows package: FAILED"
    failed=$((failed + 1))
fi
rm -rf "$dist"

echo
echo "Summary: $passed passed, $failed failed, $skipped skipped"
[[ $failed -eq 0 && $passed -gt 0 ]]
