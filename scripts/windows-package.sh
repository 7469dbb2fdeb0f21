#!/usr/bin/env bash
# The Windows package of quenlo-cli: a zip to run from any folder (quenlo-cli.exe, statically
# linked and stripped, README, the result-code table, licence texts, the demo program) and an
# NSIS installer of the same files. Then scripts/windows-package-test.sh tries both under Wine.
set -euo pipefail

build=${1:?usage: windows-package.sh BUILD_DIR [JOBS]}
jobs=${2:-2}
repo=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build"
build=$(cd "$build" && pwd)
version=$(sed -n 's/^project(Quenlo VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
name="quenlo-cli-$version-win64"

echo "== quenlo-cli.exe, release build, in $build/release"
cmake -S "$repo" -B "$build/release" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUENLO_QT=OFF -DQUENLO_BUILD_TESTS=OFF >"$build/release.log"
cmake --build "$build/release" -j"$jobs" --target quenlo-cli >>"$build/release.log" 2>&1 ||
    { tail -40 "$build/release.log" >&2; exit 1; }
echo "== The result-code table, from the engine's texts, in $build/linux"
cmake -S "$repo" -B "$build/linux" -DCMAKE_BUILD_TYPE=Release -DQUENLO_QT=OFF \
    -DQUENLO_BUILD_TESTS=OFF >"$build/linux-configure.log"
cmake --build "$build/linux" -j"$jobs" --target quenlo-result-codes bht-sim \
    >"$build/linux-build.log" 2>&1 || { tail -40 "$build/linux-build.log" >&2; exit 1; }

stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage/licences"
x86_64-w64-mingw32-strip -o "$stage/quenlo-cli.exe" "$build/release/cli/quenlo-cli.exe"
cp "$repo/README.md" "$stage/README.md"
cp "$repo/docs/windows.md" "$stage/WINDOWS.md"
cp "$repo/samples/DEMO.PD3" "$stage/DEMO.PD3"
# Windows editors want CR LF.
"$build/linux/quenlo-result-codes" | sed 's/$/\r/' >"$stage/RESULT-CODES.txt"
# What the program carries inside: CLI11, the MinGW-w64 runtime and winpthreads, and GCC's
# runtime libraries (libstdc++, libgcc) under their runtime library exception.
cp /usr/share/doc/libcli11-dev/copyright "$stage/licences/CLI11.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64-runtime.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"

(cd "$build/package" && zip -qr "$name.zip" "$name")
echo "== $build/package/$name.zip"
makensis -V2 -DSTAGE="$stage" -DVERSION="$version" -DOUTFILE="$build/package/$name-setup.exe" \
    "$repo/packaging/windows/quenlo-cli.nsi"
echo "== $build/package/$name-setup.exe"
ls -l "$build/package/$name.zip" "$build/package/$name-setup.exe"

bash "$repo/scripts/windows-package-test.sh" "$build/package/$name.zip" \
    "$build/package/$name-setup.exe" "$build/linux/sim/bht-sim" "$build/package-test"
