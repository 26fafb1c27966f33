#!/usr/bin/env bash
# Installs what is missing, builds lightbench and starts it. Arguments go to lightbench,
# for example: scripts/run.sh --port 1=/dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target lightbench -j"$(nproc)"
exec ./build/main_window/lightbench "$@"
