#!/usr/bin/env bash
# Cross-builds lightbench.exe for 64-bit Windows and packs it with everything it needs beside it
# into build-windows/lightbench-<version>-win64.zip: unzipped on a Windows PC it runs with no
# installer. The first run builds the part of Qt it needs (scripts/windows/build-qt.sh, about 40
# minutes on two cores) into ~/.cache/lightbench/; later runs reuse it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
start=$SECONDS
fail() { echo "build-windows: $*" >&2; exit 1; }

bash scripts/ensure-packages.sh "${WINDOWS_PACKAGES[@]}"

# Qt's source comes from the same archive as the machine's packages, which needs a deb-src
# entry; a fresh Debian 12 has none.
has_deb_src() {
    grep -hsqE '^(Types:.*\bdeb-src\b|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
        /etc/apt/sources.list.d/*.sources
}
if ! has_deb_src; then
    # The Debian entries as they are, with deb-src for deb: the same URIs, suites and keys.
    entry=""
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        entry=$(sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources)
    elif [ -f /etc/apt/sources.list ]; then
        entry=$(sed -nE 's/^deb (.*)/deb-src \1/p' /etc/apt/sources.list)
    fi
    [ -n "$entry" ] || fail "no Debian entry in /etc/apt to copy for Qt's source: add a deb-src entry"
    target=/etc/apt/sources.list.d/lightbench-src.sources
    [ -f /etc/apt/sources.list.d/debian.sources ] || target=/etc/apt/sources.list.d/lightbench-src.list
    if [ "$(id -u)" -ne 0 ]; then
        echo "build-windows: Qt's source needs a deb-src entry. As root, write this to $target:" >&2
        printf '%s\n' "$entry" >&2
        echo "and run: apt-get update" >&2
        exit 1
    fi
    printf '%s\n' "$entry" >"$target"
    echo "build-windows: added $target for Qt's source"
    apt-get update -q
fi

qt_start=$SECONDS
qt=$(bash scripts/windows/build-qt.sh | tail -n1)
[ -x "$qt/bin/qt-cmake" ] || fail "no qt-cmake in '$qt'"
qt_seconds=$((SECONDS - qt_start))

version=$(sed -nE 's/^project\(lightbench VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
build=build-windows
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
program_start=$SECONDS
"$qt/bin/qt-cmake" -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLIGHTBENCH_BUILD_BENCH=OFF -DLIGHTBENCH_UNITY=ON "${launcher[@]}" >/dev/null
cmake --build "$build" --target lightbench -j"$(nproc)"
program_seconds=$((SECONDS - program_start))
exe=$build/main_window/lightbench.exe
[ -f "$exe" ] || fail "no $exe after the build"

# What lightbench.exe loads beside it. Debian's Qt has no deployment tool, so the list is here;
# the import check below fails the build when it misses one.
gcc_runtime=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix | sort -V | tail -n1)
files=(
    "$qt/bin/Qt6Core.dll" "$qt/bin/Qt6Gui.dll" "$qt/bin/Qt6Widgets.dll" "$qt/bin/Qt6Network.dll"
    "$gcc_runtime/libstdc++-6.dll" "$gcc_runtime/libgcc_s_seh-1.dll"
    /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll
)
plugins=(platforms/qwindows.dll styles/qwindowsvistastyle.dll)

stage=$build/lightbench-$version-win64
rm -rf "$stage"
mkdir -p "$stage/platforms" "$stage/styles"
x86_64-w64-mingw32-strip -o "$stage/lightbench.exe" "$exe"
for file in "${files[@]}"; do
    x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/$(basename "$file")" "$file"
done
for plugin in "${plugins[@]}"; do
    x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/$plugin" "$qt/plugins/$plugin"
done

# Every DLL that a file of the package imports is in the package or part of Windows itself.
system_dll='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|ws2_32|iphlpapi|winmm|imm32|dwmapi|uxtheme|version|netapi32|userenv|mpr|shlwapi|setupapi|winspool\.drv|d3d9|d3d11|d3d12|dxgi|dxguid|wtsapi32|authz|secur32|crypt32|bcrypt|ncrypt|dnsapi|msvcrt|api-ms-win-[a-z0-9-]+|ntdll|rpcrt4|cfgmgr32|comctl32|shcore|opengl32|dwrite|d2d1|usp10|msimg32|mswsock|normaliz|powrprof|hid|wininet|winhttp|propsys)\.(dll|drv)$'
missing=""
while IFS= read -r file; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -nE 's/^\s*DLL Name: (.*)/\1/p'); do
        lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
        [[ $lower =~ $system_dll ]] && continue
        [ -n "$(find "$stage" -maxdepth 1 -iname "$dll")" ] || missing+="  $(basename "$file") needs $dll"$'\n'
    done
done < <(find "$stage" -iname '*.dll' -o -iname '*.exe')
[ -z "$missing" ] || fail "the package misses DLLs:"$'\n'"$missing"

zip=$build/lightbench-$version-win64.zip
rm -f "$zip"
(cd "$build" && zip -qr9 "$(basename "$zip")" "$(basename "$stage")")
echo "build-windows: $zip ($(du -k "$zip" | cut -f1) KB), holding:"
(cd "$stage" && find . -type f | sed 's|^\./|  |' | sort)
echo "build-windows: Qt ${qt_seconds} s (0 when cached), lightbench.exe ${program_seconds} s, total $((SECONDS - start)) s"
