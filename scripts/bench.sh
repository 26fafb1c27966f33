#!/usr/bin/env bash
# Builds the benchmarks (bench/bench_*.cpp) in build-bench, optimised with debug info, and runs
# them one after another, each printing its own table and its rows of the speed targets:
#
#   scripts/bench.sh                 every benchmark with its default duration (about 13 minutes)
#   scripts/bench.sh NAME [ARGS...]  one benchmark, e.g.: scripts/bench.sh bench_fast_sweep 30
#
# Ends with one table of every target row, met or MISSED, and exits 1 when a row is MISSED or a
# benchmark fails. The figures depend on the machine and on whatever else runs on it: the load
# average is printed before the run (the targets hold for an idle machine, load under 0.3), and
# each benchmark prints the load it saw while measuring.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
# bench_network_ports serves its ptys with ser2net.
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" ser2net

jobs=$(nproc)
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIGHTBENCH_BUILD_TESTS=OFF \
    -DLIGHTBENCH_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j"$jobs" >/dev/null

# No display is needed: the window runs on the offscreen platform.
export QT_QPA_PLATFORM=offscreen
runtime_dir=
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
    runtime_dir=$(mktemp -d)
    export XDG_RUNTIME_DIR=$runtime_dir
fi
rows=$(mktemp)
trap 'rm -f "$rows"; [[ -z $runtime_dir ]] || rm -rf "$runtime_dir"' EXIT

run() {
    local name=$1
    shift
    echo "=== $name $* ($(date '+%F %T'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
    local status=0
    "build-bench/bench/$name" "$@" | tee -a "$rows" || status=$?
    echo
    return $status
}

idle() { awk -v l="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN { exit !(l < 0.3) }'; }
# The build above raises the load average for a while: give it up to two minutes to settle.
for _ in $(seq 24); do
    idle && break
    sleep 5
done
if idle; then
    echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg) (idle)"
else
    echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg) (NOT idle: the targets hold for a load under 0.3)"
fi
echo

status=0
if [[ $# -gt 0 ]]; then
    run "$@" || status=1
else
    for source in bench/bench_*.cpp; do
        run "$(basename "$source" .cpp)" || status=1
    done
fi

echo "=== targets, every row ($(date '+%F %T'), load average $(cut -d' ' -f1-3 /proc/loadavg))"
grep '^  row ' "$rows" | sed 's/^  row  //' || true
if grep -q '^  row .*MISSED$' "$rows"; then
    echo "MISSED: $(grep -c '^  row .*MISSED$' "$rows") row(s)"
    status=1
elif [[ $status -ne 0 ]]; then
    echo "a benchmark failed"
fi
exit $status
