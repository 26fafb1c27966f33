#!/usr/bin/env bash
# Checks the run page in a real browser: sixteen simulated controllers, controller 7 faulty,
# one unattended run writing the page and the JUnit file; Chromium renders the page headless
# and takes a screenshot; pixels of the failure colour must stand in port 7's row and in no
# other row. Rows are found by their band of up time (every port is up in this run).
# SCREENSHOT=path keeps the screenshot (docs/run-page.png for the README); JUNIT=path keeps the
# JUnit file. The build tree is $BUILD_DIR (default build). Not part of the test command.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" chromium imagemagick libxml2-utils

build_dir=${BUILD_DIR:-build}
fail() { echo "check-report: $*" >&2; exit 1; }

[ -f "$build_dir/CMakeCache.txt" ] || cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target lightbench lightbench-sim -j"$(nproc)"
program=$(realpath "$build_dir/main_window/lightbench")
simulator=$(realpath "$build_dir/simulator/lightbench-sim")

work=$(mktemp -d /tmp/lightbench-page.XXXXXX)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$simulator" --headless --link "$work/bench" --controllers 16 --drop 60 --faulty 7 >"$work/ports" &
sim_pid=$!
for _ in $(seq 100); do
    [ "$(wc -l <"$work/ports")" -ge 16 ] && break
    sleep 0.1
done
[ "$(wc -l <"$work/ports")" -ge 16 ] || fail "the simulator did not offer sixteen controllers"

status=0
# shellcheck disable=SC2046 # one word per option and value
(cd "$work" && QT_QPA_PLATFORM=offscreen "$program" $(cat ports) --start fast --check 0.5 \
    --check-timeout 250 --for 8s --report run.csv --html run.html --junit run.xml) \
    >"$work/verdict" || status=$?
[ "$status" -eq 1 ] || fail "the run ended with status $status, not 1"
xmllint --noout "$work/run.html" "$work/run.xml" || fail "a file is not well-formed"
grep -c '<failure ' "$work/run.xml" | grep -qx 1 || fail "the JUnit file does not hold one failure"
grep -q 'name="port 7 [^"]*"[^>]*>$' "$work/run.xml" || fail "the failure is not port 7's"

chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$work/profile" \
    --hide-scrollbars --window-size=1280,1600 --screenshot="$work/page.png" \
    "file://$work/run.html" >"$work/chromium.log" 2>&1 || fail "chromium: $(tail -3 "$work/chromium.log")"
[ -s "$work/page.png" ] || fail "no screenshot"

# Every pixel's row (y) for the up colour (right of the labels, so not the legend's swatch)
# and the failure colour; the up bands' y ranges are the rows, in port order; a failure pixel belongs to the row whose band it is in or just
# above (the marks' lane and the label).
convert "$work/page.png" txt:- | awk '
    / #009E73/ { split($1, at, "[,:]"); if (at[1] >= 360) up[at[2]] = 1 }
    / #D00000/ { split($1, at, "[,:]"); red[at[2]]++ }
    END {
        rows = 0
        for (y = 0; y < 4000; y++) {
            if ((y in up) && !((y - 1) in up)) { rows++; top[rows] = y }
            if (y in up) bottom[rows] = y
        }
        if (rows != 16) { print "found " rows " rows, not 16"; exit 1 }
        bad = 0
        for (row = 1; row <= rows; row++) {
            n = 0
            for (y = top[row] - 26; y <= bottom[row] + 6; y++) n += red[y]
            printf "row %d: %d pixels of the failure colour\n", row, n
            if ((row == 7) != (n > 0)) bad = 1
        }
        exit bad
    }' || fail "the failure colour is not in port 7's row alone"

if [ -n "${SCREENSHOT:-}" ]; then cp "$work/page.png" "$SCREENSHOT"; fi
if [ -n "${JUNIT:-}" ]; then cp "$work/run.xml" "$JUNIT"; fi
echo "check-report: the failure colour stands in port 7's row alone"
