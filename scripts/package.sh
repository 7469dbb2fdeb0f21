#!/usr/bin/env bash
# The Debian package: a release build without tests, cpack, the installed-package test, lintian.
# Prints the package's path.
set -euo pipefail

build=${1:?usage: package.sh BUILD_DIR [JOBS]}
jobs=${2:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Debian's hardening flags (stack protector, fortified calls, read-only relocations bound now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUENLO_BUILD_TESTS=OFF -DQUENLO_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$build" -j"$jobs"
# Last run's package goes first, so that the one found below is this run's.
rm -f "$build"/quenlo_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/quenlo_*.deb)
[ -f "${debs[0]}" ] || { echo "package: cpack made no .deb in $build" >&2; exit 1; }
deb=$(cd "$(dirname "${debs[0]}")" && pwd)/$(basename "${debs[0]}")

bash scripts/package-test.sh "$deb"
# Debian's own checks: an error fails; warnings and notes are shown.
lintian --info --display-info "$deb" | tee "$build/lintian.txt"
if grep -q '^E: ' "$build/lintian.txt"; then
    echo "package: lintian found errors" >&2
    exit 1
fi
echo "package: $deb"
