#!/usr/bin/env bash
# Unpacks a built quenlo .deb into a scratch root (no root rights, nothing installed on the
# machine) and tries what it installed: the files are where a desktop looks for them, the
# programs run without the build tree, and the installed quenlo-cli sends samples/DEMO.PD3 to the
# installed bht-sim intact. The Qt libraries come from the machine.
set -euo pipefail

deb=${1:?usage: package-test.sh PACKAGE.deb}
repo=$(cd "$(dirname "$0")/.." && pwd)
[ -f "$deb" ] || { echo "package-test: no package at $deb" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/quenlo-package-test.XXXXXX")
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAILED: $*" >&2; }
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@" >"$work/check.out" 2>&1; then pass "$what"; else fail "$what"; cat "$work/check.out" >&2; fi
}

root="$work/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"

check "the package is named quenlo" test "$(dpkg-deb -f "$deb" Package)" = quenlo
check "it depends on the Qt libraries it links" \
    bash -c "dpkg-deb -f '$deb' Depends | grep -q 'libqt6serialport6' && dpkg-deb -f '$deb' Depends | grep -q 'libqt6widgets6'"
for program in quenlo quenlo-cli bht-sim; do
    check "$program is installed and executable" test -x "$bin/$program"
    # A run path into the build tree would make the programs work here and nowhere else.
    check "$program has no run path" \
        bash -c "readelf -d '$bin/$program' >'$work/dynamic' && ! grep -Eq 'RPATH|RUNPATH' '$work/dynamic'"
done
check "the desktop entry starts quenlo with its icon" \
    grep -qx 'Exec=quenlo' "$root/usr/share/applications/quenlo.desktop"
check "the icon is where the desktop entry's Icon=quenlo finds it" \
    grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/quenlo.svg"
check_manual_page() {  # check_manual_page PROGRAM A-WORD-OF-IT
    local text upper=${1^^}
    text=$(zcat "$root/usr/share/man/man1/$1.1.gz" 2>/dev/null || true)
    # In roff every "-" of an option is "\-".
    if grep -q "^\.TH $upper 1 .*$(dpkg-deb -f "$deb" Version)" <<<"$text" &&
        grep -qF "$1 \- " <<<"$text" && grep -qF "${2//-/\\-}" <<<"$text"; then
        pass "the manual page of $1 is installed, with the package's version"
    else
        fail "the manual page of $1 is installed, with the package's version"
    fi
}
check_manual_page quenlo-cli --wait-port
check_manual_page bht-sim --pty
check_manual_page quenlo QUENLO_COM
check "the copyright file is installed" grep -q 'Quenlo developers' "$root/usr/share/doc/quenlo/copyright"
check "the README is installed" cmp -s "$repo/README.md" "$root/usr/share/doc/quenlo/README.md"

check "the installed quenlo-cli --help lists its options" \
    bash -c "'$bin/quenlo-cli' --help | grep -q -- '--device'"
check "the installed bht-sim --help lists its options" \
    bash -c "'$bin/bht-sim' --help | grep -q -- '--pty'"

# A transfer between the two installed programs over a pseudo-terminal.
mkdir -p "$work/received"
"$bin/bht-sim" --pty "$work/COM1" --dir "$work/received" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done
status=0
QUENLO_COM1="$work/COM1" "$bin/quenlo-cli" "$repo/samples/DEMO.PD3" +P0 +B115200 +T30 \
    >"$work/cli.out" 2>"$work/cli.err" || status=$?
wait "$sim_pid" 2>/dev/null || true
sim_pid=
if [ "$status" -eq 0 ] && grep -q 'Transfer Complete' "$work/cli.out"; then
    pass "the installed quenlo-cli sent DEMO.PD3 to the installed bht-sim"
else
    fail "the installed quenlo-cli ended with status $status"
    cat "$work/cli.out" "$work/cli.err" "$work/sim.log" >&2
fi
check "the handheld's copy equals samples/DEMO.PD3" \
    cmp "$repo/samples/DEMO.PD3" "$work/received/DEMO.PD3"

echo "package-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
