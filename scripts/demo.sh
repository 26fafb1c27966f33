#!/usr/bin/env bash
# The demo without hardware: starts lightbench-sim (sixteen simulated controllers with their
# lamp window) and lightbench bound to them through the simulator's links, so that all sixteen
# ports show green and the lamps follow whatever lightbench sends. Closing either window ends
# both. Arguments go to lightbench-sim, for example: bash scripts/demo.sh --ack --relays 0-3
#
# SCREENSHOT=docs/demo.png bash scripts/demo.sh runs the demo on a virtual X display instead,
# starts the timed sweep, captures both windows side by side into that file and ends.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
shot=${SCREENSHOT:-}
if [ -n "$shot" ]; then
    bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" xvfb xdotool imagemagick
else
    bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}"
fi

build_dir=${BUILD_DIR:-build}
fail() { echo "demo: $*" >&2; exit 1; }
[ -f "$build_dir/CMakeCache.txt" ] || cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target lightbench lightbench-sim -j"$(nproc)"
simulator=$build_dir/simulator/lightbench-sim
lightbench=$build_dir/main_window/lightbench

work=$(mktemp -d)
pids=()
cleanup() {
    # The programs before the display they draw on.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

if [ -n "$shot" ]; then
    # Xvfb picks a free display number and writes it to fd 3 once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1690x660x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY QT_QPA_PLATFORM=xcb LANG=C.UTF-8
fi

"$simulator" --link "$work/ports" "$@" >"$work/bindings" 2> >(tee "$work/simulator.log" >&2) &
simulator_pid=$!
pids+=("$simulator_pid")
for _ in $(seq 100); do
    [ "$(grep -c '^--port' "$work/bindings" 2>/dev/null || true)" -ge 1 ] && [ -e "$work/ports/port1" ] && break
    kill -0 "$simulator_pid" 2>/dev/null || fail "lightbench-sim exited"
    sleep 0.1
done
sleep 0.2 # all lines printed
mapfile -t bindings <"$work/bindings"
[ ${#bindings[@]} -ge 1 ] || fail "lightbench-sim printed no ports"
echo "demo: lightbench ${bindings[*]}"

"$lightbench" ${bindings[@]} >"$work/lightbench.log" 2>&1 &
lightbench_pid=$!
pids+=("$lightbench_pid")

window_of() {
    local pid=$1 window=""
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | tail -n1 || true)
        [ -n "$window" ] && { echo "$window"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

if [ -z "$shot" ]; then
    # Either window closed ends the demo.
    wait -n "$simulator_pid" "$lightbench_pid" || true
    exit 0
fi

main_window=$(window_of "$lightbench_pid") || { cat "$work/lightbench.log" >&2; fail "no lightbench window"; }
sim_window=$(window_of "$simulator_pid") || fail "no lightbench-sim window"
xdotool windowmove "$main_window" 0 0
xdotool windowmove "$sim_window" 930 0
sleep 2 # the first opening pass
# 所有端口循环测试 ZAV指令: the timed sweep's start button, at 720, 4440 twips (48, 296 px).
xdotool mousemove --window "$main_window" 130 312 click 1
sleep 3.3
mkdir -p "$(dirname "$shot")"
# Both windows and nothing of the empty screen beside them.
eval "$(xdotool getwindowgeometry --shell "$sim_window")"
sim_right=$((X + WIDTH))
sim_bottom=$((Y + HEIGHT))
eval "$(xdotool getwindowgeometry --shell "$main_window")"
right=$((sim_right > X + WIDTH ? sim_right : X + WIDTH))
bottom=$((sim_bottom > Y + HEIGHT ? sim_bottom : Y + HEIGHT))
import -window root -crop "${right}x${bottom}+0+0" +repage "$work/shot.png"
mv "$work/shot.png" "$shot"
echo "demo: wrote $shot ($(identify -format '%wx%h' "$shot"))"
