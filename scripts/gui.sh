#!/usr/bin/env bash
# Opens the desktop loader with COM 1 wired to a simulated handheld on a pseudo-terminal:
# pick samples/DEMO.PD3, press Send and watch a whole transfer.
set -euo pipefail

build=${1:?usage: gui.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quenlo-gui.XXXXXX")
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "gui: no display; run it on a desktop (or under xvfb-run)" >&2
    exit 1
fi
mkdir -p "$work/received"
# The handheld takes one file after another for as long as the window is open.
(
    while :; do
        "$build/sim/bht-sim" --pty "$work/COM1" --dir "$work/received" --timeout 3600 || true
    done
) &
sim_pid=$!
echo "gui: COM 1 is a simulated handheld ($work/COM1); try $root/samples/DEMO.PD3"
QUENLO_COM1="$work/COM1" "$build/ui/quenlo"
