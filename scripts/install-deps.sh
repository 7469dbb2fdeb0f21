#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not installed yet.
# Quiet and quick when nothing is missing: once a set of packages was found complete, a stamp in
# build/.deps says so and not even the package database is asked again (make clean forgets it).
# QUENLO_SKIP_DEPS=1 skips the whole step, for a system that has the tools from elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."

[ "${QUENLO_SKIP_DEPS:-0}" = 1 ] && exit 0

stamp="build/.deps/$(printf '%s\n' "$@" | sort -u | md5sum | cut -c1-16)"
[ -e "$stamp" ] && exit 0

if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    echo "This system has no apt (Debian's package tool), so the build cannot install what it" >&2
    echo "needs. Install these packages or their equivalents: $*" >&2
    echo "then run again with QUENLO_SKIP_DEPS=1." >&2
    exit 1
fi

missing=()
for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$pkg")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || {
            echo "Need root (or sudo) to install: ${missing[*]}" >&2
            exit 1
        }
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
mkdir -p "$(dirname "$stamp")"
touch "$stamp"
