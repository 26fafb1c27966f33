#!/usr/bin/env bash
# The soak run: builds lightbench_soak in build-soak and runs the real window, headless, against
# sixteen pseudo-terminals for the given number of seconds (default 600): the timed sweep at
# 1 ms, the fast sweep switched on and off, preset clicks and box edits, controllers that answer
# and flood, ports 13-16 lost and returned. It prints a table of checks and figures; the exit
# status is 0 only when every check passed. Further arguments go to lightbench_soak (--seed N).
#
#   bash scripts/soak.sh          # ten minutes
#   bash scripts/soak.sh 60       # one minute
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}"

seconds=${1:-600}
shift || true
cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-soak --target lightbench_soak -j"$(nproc)"

status=0
QT_QPA_PLATFORM=offscreen ./build-soak/soak/lightbench_soak --seconds "$seconds" "$@" || status=$?
if [ "$status" -gt 128 ]; then
    # A crash, or the watchdog's abort on a hang (its message is above).
    echo "soak: CRASH: lightbench_soak died of signal $((status - 128)) ($(kill -l "$((status - 128))"))" >&2
elif [ "$status" -ne 0 ]; then
    echo "soak: FAIL (exit status $status)" >&2
fi
exit "$status"
