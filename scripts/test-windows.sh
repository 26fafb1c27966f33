#!/usr/bin/env bash
# Checks the Windows build under wine: builds the zip (scripts/build-windows.sh) and the
# widget-free unit tests for Windows, unzips the package into a temporary folder and runs it in
# a fresh wine prefix on a virtual X display, with COM ports mapped to pseudo-terminals
# (scripts/windows/wine_window_check.py says what is checked). Not part of scripts/test.sh: the
# first build of Qt for Windows alone takes about 40 minutes.
# SCREENSHOT=docs/windows-wine.png keeps a picture of the window under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
bash scripts/ensure-packages.sh "${WINDOWS_TEST_PACKAGES[@]}"
fail() { echo "test-windows: $*" >&2; exit 1; }
start=$SECONDS

bash scripts/build-windows.sh
version=$(sed -nE 's/^project\(lightbench VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
zip=build-windows/lightbench-$version-win64.zip
[ -f "$zip" ] || fail "no $zip"
unit_tests=(tst_channel_sweep tst_fast_sweep tst_number_rules tst_serial_settings tst_telnet_codec
            tst_wire_text tst_session_log_device_path tst_win32_line_rules)
cmake --build build-windows --target "${unit_tests[@]}" -j"$(nproc)"
qt=$(bash scripts/windows/build-qt.sh | tail -n1)

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The package as a user unzips it; nothing else on wine's search path, so that a missing DLL
# shows, and no download prompt (mono, gecko) that could hang the run.
unzip -q "$zip" -d "$work"
package=$work/lightbench-$version-win64
unset WINEPATH
export WINEPREFIX=$work/prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all WINEARCH=win64
wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; fail "wineboot failed"; }
wineserver -w

# The unit tests beside a copy of the package, with Qt Test's DLL.
tests=$work/tests
cp -r "$package" "$tests"
cp "$qt/bin/Qt6Test.dll" "$tests/"
failed=()
for name in "${unit_tests[@]}"; do
    exe=$(find build-windows/tests -name "$name.exe" | head -n1)
    [ -n "$exe" ] || fail "no $name.exe"
    cp "$exe" "$tests/"
    if (cd "$tests" && wine "$name.exe" >"$work/$name.txt" 2>&1); then
        echo "PASS: $name under wine: $(grep '^Totals' "$work/$name.txt" || true)"
    else
        cat "$work/$name.txt" >&2
        echo "FAIL: $name under wine"
        failed+=("$name")
    fi
done

# Xvfb picks a free display number and writes it to fd 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=":$(head -n1 "$work/display")"

shot=${SCREENSHOT:-}
[ -z "$shot" ] || shot=$(realpath -m "$shot")
python3 scripts/windows/wine_window_check.py "$package" "$work" $shot || failed+=(window)

echo "test-windows: $((SECONDS - start)) s"
[ ${#failed[@]} -eq 0 ] || fail "failed: ${failed[*]}"
echo "test-windows: all passed"
