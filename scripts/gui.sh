#!/usr/bin/env bash
# Opens the desktop loader with COM 1 wired to a simulated handheld on a pseudo-terminal:
# pick samples/DEMO.PD3, press Send and watch a whole transfer.
set -euo pipefail

build=${1:?usage: gui.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quenlo-gui.XXXXXX")
sim_group=
cleanup() {
    # The whole group: the loop's shell and the bht-sim it is running.
    [ -n "$sim_group" ] && kill -- "-$sim_group" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "gui: no display; run it on a desktop (or under xvfb-run)" >&2
    exit 1
fi
mkdir -p "$work/received"
# The handheld takes one file after another for as long as the window is open. The loop gets a
# process group of its own (job control on just for it), so that closing the window stops the
# bht-sim it runs too, not only the loop.
set -m
(
    while :; do
        "$build/sim/bht-sim" --pty "$work/COM1" --dir "$work/received" --timeout 3600 || true
    done
) </dev/null &
sim_group=$!
set +m
echo "gui: COM 1 is a simulated handheld ($work/COM1); try $root/samples/DEMO.PD3"
# System libraries keep a few allocations until exit; the sanitizer build would report them.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
QUENLO_COM1="$work/COM1" "$build/ui/quenlo"
