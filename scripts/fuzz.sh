#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each for a set time, or a
# set number of executions, two at a time. Each starts from its seeds in fuzz/seeds (clean
# exchanges, the tests' own lines, headings and blocks) and from the corpus earlier runs grew. Prints one line a
# target; any finding is kept under BUILD/findings and fails the run.
# Usage: fuzz.sh BUILD_DIR JOBS SECONDS RUNS [TARGET...]   (RUNS 0: by time only)
set -euo pipefail
# Absolute: a target may change its working directory.
build=$(mkdir -p "$1" && cd "$1" && pwd) jobs=$2 seconds=$3 runs=$4
shift 4
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 \
        -DCMAKE_CXX_FLAGS="-O1 -g" -DQUENLO_SANITIZE=ON -DQUENLO_FUZZ=ON -DQUENLO_QT=OFF \
        -DQUENLO_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j"$jobs"
bin=$build/fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(cd "$bin" && ls fuzz_* | grep -v '\.' | sort)
# The engine's scratch files go to memory, not to the disk.
export TMPDIR=${TMPDIR:-/dev/shm}
mkdir -p "$build/findings" "$build/logs"

run_one() {
    # The loader's reception reads what the handheld machine's seeds hold.
    local t=$1 seeds=$PWD/fuzz/seeds/${1/fuzz_receive_file/fuzz_block_receiver} corpus=$build/corpus/$1
    mkdir -p "$corpus"
    # Room for what each reads and no more: a long input only slows each run. A YMODEM machine
    # needs block 0 and a long block.
    local length=512
    case $t in
        fuzz_ymodem_receiver | fuzz_ymodem_sender) length=2048 ;;
        fuzz_ymodem_block) length=1100 ;;
        fuzz_heading) length=128 ;;
    esac
    local limit=(-max_total_time="$seconds")
    [ "$runs" -gt 0 ] && limit=(-runs="$runs")
    local status=0
    "$bin/$t" "${limit[@]}" -max_len="$length" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$t-" "$corpus" "$seeds" >"$build/logs/$t.log" 2>&1 || status=$?
    local execs speed
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$t.log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$build/logs/$t.log")
    printf '%-22s %12s runs %8s/s  %s\n' "$t" "${execs:-?}" "${speed:-?}" \
        "$([ $status -eq 0 ] && echo "no finding" || echo "FINDING: see $build/logs/$t.log")"
    return $status
}
export -f run_one
export build bin seconds runs
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}'
