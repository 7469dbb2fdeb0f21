#!/usr/bin/env bash
# The demo: a simulated handheld on a pseudo-terminal takes samples/DEMO.PD3 from quenlo-cli,
# and its copy is compared with the original.
set -euo pipefail

build=${1:?usage: demo.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
sim="$build/sim/bht-sim"
cli="$build/cli/quenlo-cli"
work=$(mktemp -d "${TMPDIR:-/tmp}/quenlo-demo.XXXXXX")
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/received"
"$sim" --pty "$work/COM1" --dir "$work/received" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done
[ -e "$work/COM1" ] || { echo "demo: the simulated handheld did not start" >&2; cat "$work/sim.log" >&2; exit 1; }

echo "== quenlo-cli sends samples/DEMO.PD3 to the simulated handheld on COM1 ($work/COM1)"
status=0
QUENLO_COM1="$work/COM1" "$cli" "$root/samples/DEMO.PD3" +P0 +B115200 +T30 +PB +SN || status=$?
wait "$sim_pid" 2>/dev/null || true
sim_pid=
echo "== the handheld says:"
cat "$work/sim.log"
if [ "$status" -ne 0 ]; then
    echo "demo: FAILED, quenlo-cli ended with status $status" >&2
    exit 1
fi
if cmp -s "$root/samples/DEMO.PD3" "$work/received/DEMO.PD3"; then
    echo "demo: OK, the handheld's copy equals samples/DEMO.PD3 byte for byte"
else
    echo "demo: FAILED, the handheld's copy differs from samples/DEMO.PD3" >&2
    exit 1
fi
