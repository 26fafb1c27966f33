#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once built with g++, then
# again built with clang under AddressSanitizer and UndefinedBehaviorSanitizer, together with a
# short run of each fuzz target. Between the two, the Debian package is made from the g++ tree
# and checked. Warnings are errors in both builds. Ends with a table of its stages' wall times.
#
# ccache is used when it is installed; CCACHE_DISABLE=1 builds without it (a cold build).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

jobs=$(nproc)
stages=()
stage_start=$SECONDS
run_start=$SECONDS
# Closes the running stage and names the next one.
stage() {
    if [ -n "${stage_name:-}" ]; then
        stages+=("$(printf '%-28s %4ds' "$stage_name" $((SECONDS - stage_start)))")
    fi
    stage_name=$1
    stage_start=$SECONDS
    [ -n "$stage_name" ] && echo "== $stage_name"
    return 0
}
print_stages() {
    local status=$?
    stage ""
    echo
    echo "Stage                         Wall"
    printf '%s\n' "${stages[@]}"
    printf '%-28s %4ds%s\n' "total" $((SECONDS - run_start)) \
        "$([ "$status" -eq 0 ] || echo "  (FAILED, status $status)")"
}
trap print_stages EXIT

stage "packages"
bash scripts/ensure-packages.sh "${TEST_PACKAGES[@]}"

configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
           -DLIGHTBENCH_BUILD_BENCH=OFF -DLIGHTBENCH_UNITY=ON)
if command -v ccache >/dev/null; then
    configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Paths relative to the checkout, so that another clone of the tree hits the same entries.
    # The test programs' flags name their build directory (Qt Test's QT_TESTCASE_BUILDDIR), and a
    # precompiled header made under another one is refused, so those stay keyed by their path.
    export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 CCACHE_SLOPPINESS=pch_defines,time_macros
fi

stage "g++ build"
cmake -S . -B build "${configure[@]}" >/dev/null
cmake --build build -j"$jobs"

stage "g++ tests"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$jobs"

stage "Debian package"
PACKAGE_BUILD_DIR=build bash scripts/check-package.sh

stage "clang ASan/UBSan build"
cmake -S . -B build-asan "${configure[@]}" -DCMAKE_CXX_COMPILER=clang++-14 \
    -DLIGHTBENCH_SANITIZE=address,undefined -DLIGHTBENCH_FUZZ=ON >/dev/null
cmake --build build-asan -j"$jobs"

stage "clang ASan/UBSan tests"
# Every report ends the process with an error (UBSan is built not to recover), so it fails its
# test; leaks count as well.
symbolizer=/usr/bin/llvm-symbolizer-14
export ASAN_OPTIONS="halt_on_error=1:print_stacktrace=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:external_symbolizer_path=$symbolizer"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:external_symbolizer_path=$symbolizer"
# The fuzz runs keep every core busy, so they start only once the timing-sensitive tests are done.
QT_QPA_PLATFORM=offscreen ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE fuzz

stage "fuzz runs"
ctest --test-dir build-asan --output-on-failure -j"$jobs" -L fuzz
