#!/usr/bin/env bash
# The Qt-free part (protocol, engine, the Windows platform layer and the tests that need neither
# Qt, a pseudo-terminal nor a child process) cross-compiled with MinGW-w64 and run under Wine: the
# engine's Windows paths run on Windows' own file system rules. Then quenlo-cli.exe, statically
# linked, against bht-sim built for Linux, over pseudo-terminals Wine sees as COM ports
# (scripts/windows-e2e.py). GoogleTest is built from Debian's packaged sources.
# Ends with "windows-check: N passed, N failed" (unit tests and table rows) and fails when a test,
# a row or a build fails.
set -euo pipefail

build=${1:?usage: windows-check.sh BUILD_DIR [JOBS]}
jobs=${2:-2}
repo=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build"
build=$(cd "$build" && pwd)
toolchain="$repo/cmake/mingw-w64.cmake"
started=$(date +%s)

# files_test holds the POSIX file cases (FIFOs, /dev); windows_test holds the Windows ones.
tests=(protocol_test ymodem_machine_test transmit_test receive_test ymodem_transfer_test block_rest_test
       run_transfer_test windows_test)

# GoogleTest and its matchers (GoogleMock) for Windows, once.
gtest="$build/googletest"
if [ ! -f "$gtest/lib/libgmock.a" ]; then
    echo "== GoogleTest from /usr/src/googletest for Windows"
    cmake -S /usr/src/googletest -B "$build/googletest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON \
        -DCMAKE_INSTALL_PREFIX="$gtest" >"$build/googletest.log"
    cmake --build "$build/googletest-build" -j"$jobs" >>"$build/googletest.log"
    cmake --install "$build/googletest-build" >>"$build/googletest.log"
fi

echo "== Configuring the Qt-free part for Windows in $build/quenlo"
cmake -S "$repo" -B "$build/quenlo" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Debug \
    -DQUENLO_QT=OFF -DQUENLO_BUILD_TESTS=ON -DGTest_DIR="$gtest/lib/cmake/GTest" \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >"$build/configure.log" ||
    { cat "$build/configure.log" >&2; exit 1; }

# Each test program on its own, so that one that does not compile for Windows is reported and
# the others still run.
failed_builds=()
echo "== Building quenlo_protocol, quenlo_core, the test support and quenlo-cli.exe"
cmake --build "$build/quenlo" -j"$jobs" --target quenlo_protocol quenlo_core quenlo_memory_rig \
    quenlo-cli console-interrupt >"$build/build.log" 2>&1 || { tail -40 "$build/build.log" >&2; exit 1; }
# Warnings count as failures of the build: the code is meant to be clean on both compilers.
if grep -q 'warning:' "$build/build.log"; then
    grep -A3 'warning:' "$build/build.log" | head -30 >&2
    echo "windows-check: the Windows build has warnings" >&2
    exit 1
fi

# bht-sim for Linux, without Qt: the handheld the Windows program talks to.
echo "== Building bht-sim for Linux in $build/linux"
cmake -S "$repo" -B "$build/linux" -DCMAKE_BUILD_TYPE=Release -DQUENLO_QT=OFF \
    -DQUENLO_BUILD_TESTS=OFF >"$build/linux-configure.log" ||
    { cat "$build/linux-configure.log" >&2; exit 1; }
cmake --build "$build/linux" -j"$jobs" --target bht-sim >"$build/linux-build.log" 2>&1 ||
    { tail -40 "$build/linux-build.log" >&2; exit 1; }
for t in "${tests[@]}"; do
    rm -f "$build/quenlo/tests/$t.exe"  # never run the program of an earlier build
    if ! cmake --build "$build/quenlo" -j"$jobs" --target "$t" >"$build/build-$t.log" 2>&1; then
        failed_builds+=("$t")
        echo "windows-check: $t does not build for Windows:" >&2
        grep -E 'error|Error' "$build/build-$t.log" | head -15 >&2
    fi
done

# A Wine prefix of our own, made once; no desktop, no Mono or Gecko installers.
export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== Making a Wine prefix in $WINEPREFIX"
    wineboot --init >"$build/wineboot.log" 2>&1 || { cat "$build/wineboot.log" >&2; exit 1; }
    wineserver --wait
fi

passed=0
failed=0
failed_programs=()
for t in "${tests[@]}"; do
    exe="$build/quenlo/tests/$t.exe"
    [ -f "$exe" ] || continue
    log="$build/$t.log"
    status=0
    # Wine ends lines with CR LF.
    (cd "$build" && timeout 600 wine "$exe" --gtest_color=no) 2>&1 | tr -d '\r' >"$log" ||
        status=$?
    ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log" | tail -1)
    ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log" | tail -1)
    bad=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below.*/\1/p' "$log" | tail -1)
    ran=${ran:-0} ok=${ok:-0} bad=${bad:-0}
    if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
        bad=1  # it ended before GoogleTest could count: a crash or a time-out
    fi
    passed=$((passed + ok))
    failed=$((failed + bad))
    printf '%-22s %4s run, %4s passed, %3s failed%s\n' "$t" "$ran" "$ok" "$bad" \
        "$([ "$status" -ne 0 ] && echo " (exit $status, see $log)")"
    if [ "$status" -ne 0 ]; then
        failed_programs+=("$t")
        sed -n 's/^\[  FAILED  \] \([A-Za-z_][^ ]*\).*/    failed: \1/p' "$log" | sort -u
    fi
done
wineserver --wait || true

echo "== quenlo-cli.exe under Wine against bht-sim"
e2e_status=0
python3 "$repo/scripts/windows-e2e.py" --exe "$build/quenlo/cli/quenlo-cli.exe" \
    --sim "$build/linux/sim/bht-sim" --prefix "$WINEPREFIX" --work "$build/e2e" \
    --interrupt "$build/quenlo/tests/console-interrupt.exe" \
    --samples "$repo/samples" | tee "$build/e2e.log" || e2e_status=$?
rows_passed=$(sed -n 's/^windows-e2e: \([0-9]*\) passed.*/\1/p' "$build/e2e.log")
rows_failed=$(sed -n 's/^windows-e2e: [0-9]* passed, \([0-9]*\) failed.*/\1/p' "$build/e2e.log")
passed=$((passed + ${rows_passed:-0}))
failed=$((failed + ${rows_failed:-0}))
if [ "$e2e_status" -ne 0 ] && [ "${rows_failed:-0}" -eq 0 ]; then
    failed=$((failed + 1))  # the table did not run to its end
fi

echo "windows-check: took $(($(date +%s) - started)) s"
[ ${#failed_builds[@]} -eq 0 ] || echo "windows-check: not built for Windows: ${failed_builds[*]}"
echo "windows-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failed_builds[@]} -eq 0 ]
