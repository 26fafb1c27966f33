#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once built with g++, then
# again built with clang under AddressSanitizer and UndefinedBehaviorSanitizer, together with a
# short run of each fuzz target. Between the two, the Debian package is built and checked.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
bash scripts/ensure-packages.sh "${TEST_PACKAGES[@]}"

jobs=$(nproc)
echo "== g++ build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$jobs"

echo "== Debian package: build it and check its contents and dependencies"
bash scripts/check-package.sh

echo "== clang build with ASan and UBSan, tests and short fuzz runs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DLIGHTBENCH_SANITIZE=address,undefined -DLIGHTBENCH_FUZZ=ON -DLIGHTBENCH_BUILD_BENCH=OFF \
    >/dev/null
cmake --build build-asan -j"$jobs"
# Every report ends the process with an error (UBSan is built not to recover), so it fails its
# test; leaks count as well.
symbolizer=/usr/bin/llvm-symbolizer-14
export ASAN_OPTIONS="halt_on_error=1:print_stacktrace=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:external_symbolizer_path=$symbolizer"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:external_symbolizer_path=$symbolizer"
# The fuzz runs keep every core busy, so they start only once the timing-sensitive tests are done.
QT_QPA_PLATFORM=offscreen ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE fuzz
ctest --test-dir build-asan --output-on-failure -j"$jobs" -L fuzz
