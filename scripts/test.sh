#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once built with g++, then
# again built with clang under AddressSanitizer and UndefinedBehaviorSanitizer, together with a
# short run of each fuzz target; the Debian package is made from the g++ tree and checked.
# Warnings are errors in both builds. Ends with a table of its stages' wall times.
#
# The tests spend most of their time waiting on ptys, timers and child processes, so each test
# stage shares the machine with the next CPU-bound one: the g++ tests with the package and the
# clang build, the sanitizer tests with the fuzz runs. The CPU-bound side runs at the lowest
# priority, so that a test that wakes up gets a core at once, as on an idle machine.
#
# ccache is used when it is installed; CCACHE_DISABLE=1 builds without it (a cold build).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

jobs=$(nproc)
# Waiting tests overlap well; more than this and the window tests start to queue for a core.
test_jobs=$((jobs * 2))
logs=$(mktemp -d)
stages=()
run_start=$SECONDS

print_stages() {
    local status=$?
    echo
    echo "Stage                                  Wall"
    printf '%s\n' "${stages[@]}"
    printf '%-36s %5ds%s\n' "total" $((SECONDS - run_start)) \
        "$([ "$status" -eq 0 ] || echo "  (FAILED, status $status)")"
    rm -rf "$logs"
}
trap print_stages EXIT

# Runs one stage in the foreground, its output as it comes.
stage() {
    local name=$1 start=$SECONDS
    shift
    echo "== $name"
    "$@"
    stages+=("$(printf '%-36s %5ds' "$name" $((SECONDS - start)))")
}

# Runs two stages side by side, the second at the lowest priority. Each one's output is kept
# in a file and printed whole when both have ended, the first one's first; the pair fails when
# either does.
side_by_side() {
    local first_name=$1 first=$2 second_name=$3 second=$4 start=$SECONDS
    echo "== $first_name, beside it: $second_name"
    timed "$first" >"$logs/first" 2>&1 &
    local first_pid=$!
    (
        renice -n 19 -p "$BASHPID" >/dev/null
        timed "$second"
    ) >"$logs/second" 2>&1 &
    local second_pid=$!
    local first_status=0 second_status=0
    wait "$first_pid" || first_status=$?
    wait "$second_pid" || second_status=$?
    for side in first second; do
        local name=${first_name}
        [ $side = second ] && name=$second_name
        echo "== output of: $name"
        sed '$d' "$logs/$side"
        stages+=("$(printf '  %-34s %5ds' "$name" "$(tail -1 "$logs/$side")")")
    done
    stages+=("$(printf '%-36s %5ds' "side by side" $((SECONDS - start)))")
    [ "$first_status" -eq 0 ] && [ "$second_status" -eq 0 ]
}

# Runs a function and prints, as its last line, how many seconds it took.
timed() {
    local start=$SECONDS status=0
    "$1" || status=$?
    echo $((SECONDS - start))
    return $status
}

configure=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DLIGHTBENCH_BUILD_BENCH=OFF -DLIGHTBENCH_UNITY=ON)
clang_launcher=()
if command -v ccache >/dev/null; then
    configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    clang_launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER="$PWD/scripts/ccache-clang.sh")
    # Paths relative to the checkout, so that another clone of the tree hits the same entries.
    export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 CCACHE_SLOPPINESS=pch_defines,time_macros
fi
export QT_QPA_PLATFORM=offscreen
symbolizer=/usr/bin/llvm-symbolizer-14
# Every report ends the process with an error (UBSan is built not to recover), so it fails its
# test; leaks count as well.
export ASAN_OPTIONS="halt_on_error=1:print_stacktrace=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:external_symbolizer_path=$symbolizer"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:external_symbolizer_path=$symbolizer"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"

gcc_build() {
    # The package is made from this tree: optimised as a release is; its line tables are enough
    # for a backtrace of a failed test.
    cmake -S . -B build "${configure[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
    cmake --build build -j"$jobs"
}
gcc_tests() {
    ctest --test-dir build --output-on-failure -j"$test_jobs"
}
package_and_clang_build() {
    PACKAGE_BUILD_DIR=build bash scripts/check-package.sh
    # Line tables are all that a sanitizer report needs to name file and line; full debug
    # information would make every object and link several times larger.
    cmake -S . -B build-asan "${configure[@]}" "${clang_launcher[@]}" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
        -DCMAKE_CXX_COMPILER=clang++-14 -DLIGHTBENCH_SANITIZE=address,undefined \
        -DLIGHTBENCH_FUZZ=ON >/dev/null
    cmake --build build-asan -j"$jobs"
}
sanitizer_tests() {
    ctest --test-dir build-asan --output-on-failure -j"$test_jobs" -LE fuzz
}
fuzz_runs() {
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -L fuzz
}

stage "packages" bash scripts/ensure-packages.sh "${TEST_PACKAGES[@]}"
stage "g++ build" gcc_build
side_by_side "g++ tests" gcc_tests "Debian package, clang ASan/UBSan build" \
    package_and_clang_build
side_by_side "clang ASan/UBSan tests" sanitizer_tests "fuzz runs" fuzz_runs
