#!/usr/bin/env bash
# Checks the Windows packages under wine: scripts/windows/check-package.sh DISTDIR [LINUX-CLI]
# DISTDIR holds Quaverly-VERSION-win64.exe and .zip (scripts/windows/package.sh). In a wine prefix
# of its own: the portable folder's quaverly-cli.exe runs with nothing but its folder; then, for
# the current user and with /AllUsers, the silent installer puts the programs, the Start menu
# entry, the entry in Apps & features and "Open with" in place, the installed quaverly-cli.exe
# runs, and the silent uninstall leaves none of its files or registry keys behind, and another
# program's association untouched. With LINUX-CLI (the Linux build's quaverly-cli), the portable
# and the installed quaverly-cli.exe must also give its results (scripts/windows/check-parity.sh).
# The window starts on an X server of its own (Xvfb) and takes its pictures (QUAVERLY_WIN_SHOTS:
# a folder to keep them in). Exits non-zero, saying what failed, on any failure.
set -euo pipefail
[[ $# -eq 1 || $# -eq 2 ]] || { echo "usage: $0 DISTDIR [LINUX-CLI]" >&2; exit 2; }
dist=$(realpath "$1")
linux_cli=${2:+$(realpath "$2")}
here=$(dirname "$(realpath "$0")")
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}
shopt -s nullglob
installers=("$dist"/Quaverly-*-win64.exe)
zips=("$dist"/Quaverly-*-win64.zip)
[[ ${#installers[@]} -eq 1 && ${#zips[@]} -eq 1 ]] ||
    { echo "check-package: $dist must hold one Quaverly-*-win64.exe and one .zip" >&2; exit 1; }
installer=${installers[0]}
version=$(basename "$installer" -win64.exe)
version=${version#Quaverly-}

work=$(mktemp -d /tmp/quaverly-winpackage.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
# No menu entries on the host's desktop, no questions about Mono or Gecko; Qt draws offscreen
# (wine hands the programs QT_ variables only under a WINE prefix).
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d" WINEQT_QPA_PLATFORM=offscreen
unset WINEPATH DISPLAY WAYLAND_DISPLAY
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "check-package: $*" >&2; failures=$((failures + 1)); }

# Every wine command has a deadline; settle waits (with one) until the prefix's programs are all
# done, the uninstaller's copy of itself too, and the registry is on disk.
# Now and then wine fails to start a program at all: it says "ShellExecuteEx failed: Internal
# error", or it ends with exit code 1 and not a byte written. Nothing ran then, so the command is
# tried again, up to three times (a program that itself fails so fails the same way each time).
run() {
    local attempt status err=$work/run.err out=$work/run.out
    for attempt in 1 2 3; do
        status=0
        timeout 300 "$wine" "$@" </dev/null 2>"$err" | tr -d '\r' | tee "$out" || status=$?
        cat "$err" >>"$work/wine.log"
        grep -q "ShellExecuteEx failed" "$err" && continue
        [[ $status -eq 1 && ! -s $err && ! -s $out ]] || break
    done
    return $status
}
settle() { timeout 300 "$wineserver" -w || fail "wine's programs did not end within 300 s"; }
# A value of a registry key, the key's default value without a name (empty when there is none).
regvalue() {
    local query=(/v "$2") name=$2
    [[ -n $2 ]] || query=(/ve) name='(Default)'
    run reg query "$1" "${query[@]}" 2>/dev/null | awk -v v="$name" '
        $1 == v { sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]*/, ""); print; exit }' || true
}
haskey() { run reg query "$1" >/dev/null 2>&1; }
# What the registry holds under these keys ("absent" for a key that is not there).
snapshot() {
    local key
    for key in "$@"; do
        echo "[$key]"
        run reg query "$key" /s 2>/dev/null || echo absent
    done
}

run wineboot -i >/dev/null || { cat "$work/wine.log" >&2; exit 1; }
settle

# The portable folder: its programs find every DLL beside them.
unzip -q "${zips[0]}" -d "$work/portable"
portable=$work/portable/Quaverly-$version-win64
for file in quaverly.exe quaverly-cli.exe platforms/qwindows.dll; do
    [[ -f $portable/$file ]] || fail "the zip has no Quaverly-$version-win64/$file"
done
said=$(run "$portable/quaverly-cli.exe" --version || true)
[[ $said == "quaverly-cli $version" ]] || fail "the portable quaverly-cli.exe --version: '$said'"
if [[ -n $linux_cli ]]; then
    "$here/check-parity.sh" "$linux_cli" "$portable/quaverly-cli.exe" ||
        fail "the portable quaverly-cli.exe does not give the Linux build's results"
fi

# The window, through wine's own display driver on an X server of its own: it starts with a song
# named on the command line and takes its pictures (--screenshots): panels, icons, the editor's
# waveform. The recorder shows the virtual device's inputs: this check starts no sound server, and
# without one the "Can't initialize device" box would wait for a click.
if command -v Xvfb >/dev/null; then
    sox -n -r 44100 -c 2 "$work/sweep.wav" synth 8 sine 300-900 &&
        lame --quiet "$work/sweep.wav" "$work/Música (1).mp3" || fail "no song for the window"
    Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
    mkdir -p "$work/shots"
    env -u WINEQT_QPA_PLATFORM QUAVERLY_AUDIO=virtual LC_ALL=C.UTF-8 DISPLAY=:$(cat "$work/display") timeout 300 "$wine" \
        "$portable/quaverly.exe" --screenshots 'Z:'"${work//\//\\}"'\shots' \
        'Z:'"${work//\//\\}"'\Música (1).mp3' </dev/null >>"$work/wine.log" 2>&1 ||
        fail "quaverly.exe --screenshots failed"
    kill "$xvfb"
    for shot in 01-Wav-light 03-Convert-dark 08-Wav-ringtone-light 08-Wav-ringtone-light@2x; do
        [[ $(stat -c %s "$work/shots/$shot.png" 2>/dev/null || echo 0) -gt 10000 ]] ||
            fail "quaverly.exe took no picture $shot.png"
    done
    [[ -n ${QUAVERLY_WIN_SHOTS:-} ]] && cp "$work"/shots/*.png "$QUAVERLY_WIN_SHOTS"/
else
    fail "no Xvfb to start the window on (xvfb)"
fi

# Another program's association, which the uninstall must leave as it is.
classes='HKCU\Software\Classes'
run reg add "$classes\\.wav" /ve /d Other.Player /f >/dev/null
run reg add "$classes\\.wav\\OpenWithProgids" /v Other.Player /f >/dev/null

winuser=$(run cmd /c echo %USERNAME%)
for mode in user all; do
    if [[ $mode == all ]]; then
        switch=(/AllUsers) hive=HKLM who='all users'
        expected_folder='C:\Program Files\Quaverly'
        menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
    else
        switch=() hive=HKCU who='the current user'
        expected_folder="C:\\users\\$winuser\\AppData\\Local\\Programs\\Quaverly"
        menu="$WINEPREFIX/drive_c/users/$winuser/AppData/Roaming/Microsoft/Windows/Start Menu"
        menu+=/Programs
    fi
    # The extensions' keys as they were: the uninstall must leave them so.
    extension_keys=("$hive\\Software\\Classes\\.mp3" "$hive\\Software\\Classes\\.flac"
        "$classes\\.wav")
    before=$(snapshot "${extension_keys[@]}")
    echo "installing for $who"
    run "$installer" /S "${switch[@]}" >/dev/null || fail "$mode: the installer failed"
    settle
    key="$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quaverly"
    folder=$(regvalue "$key" InstallLocation)
    [[ ${folder,,} == "${expected_folder,,}" ]] ||
        fail "$mode: installed into '$folder', not '$expected_folder'"
    [[ $(regvalue "$key" DisplayName) == Quaverly ]] || fail "$mode: DisplayName in $key"
    [[ $(regvalue "$key" DisplayVersion) == "$version" ]] || fail "$mode: DisplayVersion in $key"
    [[ -n $(regvalue "$key" Publisher) ]] || fail "$mode: no Publisher in $key"
    [[ $(regvalue "$key" DisplayIcon) == "$folder\\quaverly.exe,0" ]] ||
        fail "$mode: DisplayIcon in $key"
    [[ $(regvalue "$key" UninstallString) == "\"$folder\\Uninstall.exe\"" ]] ||
        fail "$mode: UninstallString in $key"
    quiet=$(regvalue "$key" QuietUninstallString)
    [[ $quiet == "\"$folder\\Uninstall.exe\" /S" ]] || fail "$mode: QuietUninstallString in $key"
    size=$(regvalue "$key" EstimatedSize)
    [[ $((size)) -gt 1000 ]] || fail "$mode: EstimatedSize in $key: '$size' KiB"
    unix=$(run winepath -u "$folder")
    unix=${unix%/}
    for file in quaverly.exe quaverly-cli.exe Uninstall.exe platforms/qwindows.dll; do
        [[ -f $unix/$file ]] || fail "$mode: $folder has no $file"
    done
    [[ -f "$menu/Quaverly.lnk" ]] || fail "$mode: no Start menu entry in $menu"
    # Open with: every kind the program reads, here two of them.
    app="$hive\\Software\\Classes\\Applications\\quaverly.exe"
    [[ $(regvalue "$app\\shell\\open\\command" "") == "\"$folder\\quaverly.exe\" \"%1\"" ]] ||
        fail "$mode: $app's command"
    for ext in .mp3 .flac; do
        run reg query "$app\\SupportedTypes" /v $ext >/dev/null 2>&1 ||
            fail "$mode: $ext not in $app\\SupportedTypes"
        run reg query "$hive\\Software\\Classes\\$ext\\OpenWithProgids" /v Quaverly.Song \
            >/dev/null 2>&1 || fail "$mode: $ext does not name Quaverly.Song"
    done
    haskey "$hive\\Software\\Classes\\Quaverly.Song\\shell\\open\\command" ||
        fail "$mode: no Quaverly.Song ProgID"

    said=$(run "$unix/quaverly-cli.exe" --version || true)
    [[ $said == "quaverly-cli $version" ]] ||
        fail "$mode: the installed quaverly-cli.exe --version: '$said'"
    if [[ -n $linux_cli && $mode == user ]]; then
        "$here/check-parity.sh" "$linux_cli" "$unix/quaverly-cli.exe" ||
            fail "$mode: the installed quaverly-cli.exe does not give the Linux build's results"
    fi

    echo "uninstalling for $who"
    # As Apps & features runs it, by its Windows path: it finds out from there how it was
    # installed.
    run "$folder\\Uninstall.exe" /S >/dev/null || fail "$mode: the uninstaller failed"
    settle
    [[ ! -e $unix ]] || fail "$mode: left behind: $(cd "$unix" && find . | sed 1d | tr '\n' ' ')"
    [[ ! -e "$menu/Quaverly.lnk" ]] || fail "$mode: the Start menu entry is left"
    for left in "$key" "$app" "$hive\\Software\\Classes\\Quaverly.Song"; do
        ! haskey "$left" || fail "$mode: the key $left is left"
    done
    after=$(snapshot "${extension_keys[@]}")
    [[ $after == "$before" ]] ||
        fail "$mode: the uninstall changed the extensions' keys:" \
            "$(diff <(echo "$before") <(echo "$after"))"
done

# Nothing of ours anywhere in the registry; the other program's association as it was.
if grep -il -e quaverly "$WINEPREFIX"/*.reg >/dev/null; then
    fail "the registry still names Quaverly:"
    grep -i -B3 quaverly "$WINEPREFIX"/*.reg >&2 || true
fi
[[ $(regvalue "$classes\\.wav" "") == Other.Player ]] ||
    fail "the uninstall changed another program's .wav"
run reg query "$classes\\.wav\\OpenWithProgids" /v Other.Player >/dev/null 2>&1 ||
    fail "the uninstall removed another program's Open with entry for .wav"

if [[ $failures -gt 0 ]]; then
    echo "check-package: $failures failure(s)" >&2
    exit 1
fi
echo "check-package: $(basename "$installer") and $(basename "${zips[0]}") passed"
