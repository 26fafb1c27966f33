#!/usr/bin/env bash
# Takes docs/screenshot.png: builds lightbench, starts it on a virtual X display with two
# pseudo-terminals bound as ports 1 and 4 (so those two show green), lets the peers answer
# once, and captures the window. The build tree is $BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" xvfb xdotool imagemagick socat

build_dir=${BUILD_DIR:-build}
output=${SCREENSHOT:-docs/screenshot.png}
fail() { echo "screenshot: $*" >&2; exit 1; }

[ -f "$build_dir/CMakeCache.txt" ] || cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target lightbench -j"$(nproc)"
program=$build_dir/main_window/lightbench
[ -x "$program" ] || fail "no $program after the build"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Each pair: lightbench opens devN, the script plays the controller on peerN.
for n in 1 4; do
    socat pty,raw,echo=0,link="$work/dev$n" pty,raw,echo=0,link="$work/peer$n" 2>"$work/socat$n.log" &
    pids+=($!)
done
ptys_ready() { [ -e "$work/dev1" ] && [ -e "$work/peer1" ] && [ -e "$work/dev4" ] && [ -e "$work/peer4" ]; }
for _ in $(seq 50); do ptys_ready && break; sleep 0.1; done
ptys_ready || { cat "$work"/socat*.log >&2; fail "socat made no pseudo-terminals"; }

# Xvfb picks a free display number and writes it to fd 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY

LANG=C.UTF-8 QT_QPA_PLATFORM=xcb "$program" --port 1="$work/dev1" --port 4="$work/dev4" \
    >"$work/lightbench.log" 2>&1 &
lightbench_pid=$!
pids+=("$lightbench_pid")

window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$lightbench_pid" 2>/dev/null | tail -n1 || true)
    [ -n "$window" ] && break
    kill -0 "$lightbench_pid" 2>/dev/null || { cat "$work/lightbench.log" >&2; fail "lightbench exited"; }
    sleep 0.1
done
[ -n "$window" ] || { cat "$work/lightbench.log" >&2; fail "no lightbench window appeared"; }

# The first opening pass, then one reply from each controller for the receive log.
sleep 3
printf 'OK 1\r\n' >"$work/peer1"
printf 'OK 4\r\n' >"$work/peer4"
sleep 1

kill -0 "$lightbench_pid" 2>/dev/null || { cat "$work/lightbench.log" >&2; fail "lightbench exited"; }
mkdir -p "$(dirname "$output")"
import -window "$window" "$work/shot.png"
mv "$work/shot.png" "$output"
echo "screenshot: wrote $output ($(identify -format '%wx%h' "$output"))"
