#!/usr/bin/env bash
# The long fuzz run: builds the fuzz targets (clang, ASan and UBSan) in build-fuzz and runs each
# one in turn, far longer than the short runs inside scripts/test.sh.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#   bash scripts/fuzz.sh --list        (the targets, one a line, and nothing else)
#
# SECONDS per target: the first argument, else $LIGHTBENCH_FUZZ_SECONDS, else 600. TARGETs: the
# fuzz/fuzz_*.cpp names (default: all of them, so that a new target is never left out).
#
# Each target's corpus grows in build-fuzz/fuzz-runs/<target>/corpus, seeded from
# fuzz/corpus/<target> and kept between runs; a finding is saved in .../<target>/findings and
# stops that target. The inputs in fuzz/crashes/<target> are replayed first. Prints executions,
# executions per second and findings per target; exits with 1 if anything was found.
set -euo pipefail
cd "$(dirname "$0")/.."

all=()
for source in fuzz/fuzz_*.cpp; do
    all+=("$(basename "$source" .cpp)")
done
if [[ $# -eq 1 && $1 == --list ]]; then
    printf '%s\n' "${all[@]}"
    exit 0
fi
seconds=${LIGHTBENCH_FUZZ_SECONDS:-600}
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
for target in "${targets[@]}"; do
    if [[ ! -f fuzz/$target.cpp ]]; then
        echo "fuzz.sh: no fuzz target '$target'; the targets are: ${all[*]}" >&2
        exit 2
    fi
done

source scripts/packages.sh
bash scripts/ensure-packages.sh "${TEST_PACKAGES[@]}"

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DLIGHTBENCH_SANITIZE=address,undefined -DLIGHTBENCH_FUZZ=ON -DLIGHTBENCH_BUILD_TESTS=OFF \
    -DLIGHTBENCH_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

symbolizer=/usr/bin/llvm-symbolizer-14
export ASAN_OPTIONS="halt_on_error=1:print_stacktrace=1:detect_leaks=1:external_symbolizer_path=$symbolizer"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:external_symbolizer_path=$symbolizer"

final_stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -n 1; }

summary=()
found=0
for target in "${targets[@]}"; do
    run=build-fuzz/fuzz-runs/$target
    mkdir -p "$run/corpus" "$run/findings"
    cp -n fuzz/corpus/"$target"/* "$run/corpus/" 2>/dev/null || true
    corpora=("$run/corpus")
    [ -d fuzz/crashes/"$target" ] && corpora+=(fuzz/crashes/"$target")
    before=$(find "$run/findings" -type f | wc -l)

    echo "== $target for ${seconds}s (log: $run/log.txt)"
    set +e
    build-fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$run/findings/" "${corpora[@]}" >"$run/log.txt" 2>&1
    status=$?
    set -e

    findings=$(($(find "$run/findings" -type f | wc -l) - before))
    [ "$status" -ne 0 ] && [ "$findings" -eq 0 ] && findings=1 # e.g. killed before saving
    [ "$findings" -gt 0 ] && found=1 && grep -E '^(broken|input):|ERROR:|SUMMARY:' "$run/log.txt" | head -n 5
    summary+=("$(printf '%-22s %12s execs %8s execs/s  %s finding(s)' "$target" \
        "$(final_stat number_of_executed_units "$run/log.txt")" \
        "$(final_stat average_exec_per_sec "$run/log.txt")" "$findings")")
done

echo
printf '%s\n' "${summary[@]}"
[ "$found" -eq 0 ] || echo "Findings are in build-fuzz/fuzz-runs/<target>/findings."
exit "$found"
