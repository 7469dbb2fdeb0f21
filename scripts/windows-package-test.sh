#!/usr/bin/env bash
# Tries the Windows package in a fresh Wine prefix: the zip unpacked into a folder of C: runs
# there with nothing else installed and sends its DEMO.PD3 to bht-sim (on a pseudo-terminal that
# the prefix sees as COM5), the copy compared byte for byte; the installer installs silently and
# the installed program runs. Ends "windows-package-test: N passed, N failed".
set -euo pipefail

zip=${1:?usage: windows-package-test.sh ZIP SETUP_EXE BHT_SIM WORK_DIR}
setup=${2:?}
sim=${3:?}
work=${4:?}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
name=$(basename "$zip" .zip)
export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@" >"$work/check.out" 2>&1; then
        passed=$((passed + 1))
        echo "ok: $what"
    else
        failed=$((failed + 1))
        echo "FAILED: $what" >&2
        tail -20 "$work/check.out" >&2
    fi
}

echo "== A fresh Wine prefix in $WINEPREFIX"
wineboot --init >"$work/wineboot.log" 2>&1
wineserver --wait
folder="$WINEPREFIX/drive_c/$name"
unzip -q "$zip" -d "$WINEPREFIX/drive_c"
for file in quenlo-cli.exe README.md WINDOWS.md RESULT-CODES.txt DEMO.PD3 licences/CLI11.txt; do
    check "the zip holds $file" test -s "$folder/$file"
done
check "the result-code table names 101" grep -q 'Err(101) Communications Port COM1 not available' \
    "$folder/RESULT-CODES.txt"
# Statically linked: nothing but the system's own DLLs to find.
check "quenlo-cli.exe needs no DLL beyond Windows' own" bash -c \
    "x86_64-w64-mingw32-objdump -p '$folder/quenlo-cli.exe' | grep 'DLL Name' | \
     grep -viE 'DLL Name: (kernel32|advapi32|setupapi|shell32|user32|msvcrt|ws2_32|api-ms-win-[a-z0-9-]*)\.dll' \
     && exit 1 || exit 0"

# The demo from the unpacked folder: COM5 is a pseudo-terminal with bht-sim behind it. (Not COM1:
# a fresh prefix's COM1 is Wine's own device for /dev/ttyS0, which a new link does not move.)
mkdir -p "$work/received"
"$sim" --pty "$work/COM5" --dir "$work/received" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/COM5" ] && break; sleep 0.05; done
ln -sfn "$work/COM5" "$WINEPREFIX/dosdevices/com5"
status=0
(cd "$folder" && wine ./quenlo-cli.exe DEMO.PD3 +P4 +B115200 +T30 </dev/null \
    >"$work/cli.out" 2>"$work/cli.err") || status=$?
wait "$sim_pid" || true
sim_pid=
check "the unpacked quenlo-cli.exe sent DEMO.PD3 (exit $status)" \
    bash -c "[ $status -eq 0 ] && tr -d '\r' <'$work/cli.out' | grep -qx 'Err(0) Transfer Complete'"
check "the handheld's copy equals the zip's DEMO.PD3" cmp "$folder/DEMO.PD3" "$work/received/DEMO.PD3"

# The installer, silently, then the installed program.
installed="$WINEPREFIX/drive_c/Program Files/Quenlo"
check "the installer installs silently" wine "$setup" /S
wineserver --wait
check "it installed quenlo-cli.exe and its files" test -s "$installed/quenlo-cli.exe" -a \
    -s "$installed/RESULT-CODES.txt" -a -s "$installed/licences/gcc-runtime.txt"
check "the installed quenlo-cli.exe --help lists its options" bash -c \
    "wine '$installed/quenlo-cli.exe' --help </dev/null | grep -q -- '--list-ports'"

echo "windows-package-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
