#!/usr/bin/env bash
# Downloads Debian source packages (upstream tarballs and Debian's packaging) into the current
# directory with `apt-get source --download-only`. deb-src is added to the Debian sources for
# this one call only: the sources file is put back as it was afterwards, on failure too.
# Usage: debian-source.sh PACKAGE[=VERSION]...
set -euo pipefail
list=/etc/apt/sources.list.d/debian.sources
SUDO=()
[[ $(id -u) -ne 0 ]] && SUDO=(sudo)

saved=""
restore() {
    [[ -n $saved ]] || return 0
    "${SUDO[@]}" cp "$saved" "$list"
    rm -f "$saved"
    saved=""
    "${SUDO[@]}" apt-get update -qq || true
}
trap restore EXIT
trap 'exit 130' INT TERM HUP

if [[ -f $list ]] && ! grep -q '^Types:.*deb-src' "$list"; then
    saved=$(mktemp)
    cp "$list" "$saved"
    sed 's/^Types: deb$/Types: deb deb-src/' "$saved" | "${SUDO[@]}" tee "$list" >/dev/null
    "${SUDO[@]}" apt-get update -qq
fi
# The archive may no longer serve a file nobody needs (a signature, at times a packaging
# tarball), which makes apt-get fail: the caller checks that what it needs has come.
apt-get source -qq --download-only "$@" || true
