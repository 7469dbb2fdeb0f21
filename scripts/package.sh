#!/usr/bin/env bash
# The Debian package: a release build without tests, cpack, then the installed-package test.
# Prints the package's path.
set -euo pipefail

build=${1:?usage: package.sh BUILD_DIR [JOBS]}
jobs=${2:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUENLO_BUILD_TESTS=OFF -DQUENLO_BUILD_BENCH=OFF
cmake --build "$build" -j"$jobs"
# Last run's package goes first, so that the one found below is this run's.
rm -f "$build"/quenlo_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/quenlo_*.deb)
[ -f "${debs[0]}" ] || { echo "package: cpack made no .deb in $build" >&2; exit 1; }
deb=$(cd "$(dirname "${debs[0]}")" && pwd)/$(basename "${debs[0]}")

bash scripts/package-test.sh "$deb"
echo "package: $deb"
