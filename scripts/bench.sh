#!/usr/bin/env bash
# Builds the benchmarks (bench/bench_*.cpp) in build-bench, optimised with debug info, and runs
# them one after another, each printing its own table:
#
#   scripts/bench.sh                 every benchmark with its default duration (about 2 minutes)
#   scripts/bench.sh NAME [ARGS...]  one benchmark, e.g.: scripts/bench.sh bench_fast_sweep 30
#
# The figures depend on the machine and on whatever else runs on it: each benchmark prints the
# load it saw while measuring.
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
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
    trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi

run() {
    local name=$1
    shift
    echo "=== $name $* ($(date '+%F %T'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
    "build-bench/bench/$name" "$@"
    echo
}

if [[ $# -gt 0 ]]; then
    run "$@"
    exit
fi

status=0
for source in bench/bench_*.cpp; do
    run "$(basename "$source" .cpp)" || status=1
done
exit $status
