#!/usr/bin/env bash
# Start-up time, resident memory and idle CPU of the real program with 16 ports open.
# Usage: bench/startup_idle.sh [build-dir]   (default build; needs xvfb, xdotool, socat)
# Prints a table. Start-up is from exec to the window being mapped on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
program=$build_dir/main_window/lightbench
[ -x "$program" ] || { echo "build $program first" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ports=()
for n in $(seq 16); do
    socat pty,raw,echo=0,link="$work/dev$n" pty,raw,echo=0,link="$work/peer$n" 2>/dev/null &
    pids+=($!)
    ports+=(--port "$n=$work/dev$n")
done
for n in $(seq 16); do
    for _ in $(seq 50); do [ -e "$work/dev$n" ] && break; sleep 0.1; done
done

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

start=$(date +%s%N)
QT_QPA_PLATFORM=xcb "$program" "${ports[@]}" >"$work/log" 2>&1 &
pid=$!
pids+=("$pid")
xdotool search --sync --onlyvisible --pid "$pid" >/dev/null
mapped=$(date +%s%N)

sleep 3 # the first opening pass opens all sixteen
rss_kb=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep 10
after=$(ticks)
open_fds=$(ls -l "/proc/$pid/fd" | grep -c "$work\|/dev/pts" || true)

printf '%-34s %12s\n' "measure" "value"
printf '%-34s %12d\n' "start-up to window mapped (ms)" $(((mapped - start) / 1000000))
printf '%-34s %12d\n' "resident memory, 16 ports (KiB)" "$rss_kb"
printf '%-34s %12.2f\n' "idle CPU over 10 s (%)" "$(awk -v t=$((after - before)) -v hz="$hz" 'BEGIN {print t * 100 / hz / 10}')"
printf '%-34s %12d\n' "descriptors on the ptys" "$open_fds"
