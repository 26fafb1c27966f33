#!/usr/bin/env bash
# Cross-builds the part of Qt that lightbench.exe needs, once, into a cache outside the tree.
# Debian 12 ships Qt 6.4.2 for Linux only; its source package is configured here for mingw-w64,
# with Debian's own moc, rcc and uic (the same version) as host tools.
# Prints the prefix on its last line. The prefix is keyed by the Qt version and these options,
# so a change of either builds afresh beside the old one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${LIGHTBENCH_CACHE:-$HOME/.cache/lightbench}
jobs=$(nproc)

features=(
    -DFEATURE_tabletevent=OFF # Debian's copy has no wintab.h
    -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF
    -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_zstd=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_testlib=ON -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_network=ON
)
version=$(dpkg-query -W -f '${Version}' qt6-base-dev | sed 's/[+~-].*//')
key=$(printf '%s\n' "$version" "${features[@]}" | cat - "$here/toolchain-mingw64.cmake" |
    sha256sum | cut -c1-12)
prefix=$cache/qt-$version-mingw64-$key
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

src=$cache/src
mkdir -p "$src"
if [ ! -d "$src/qtbase-$version" ]; then
    (cd "$src" && apt-get source -q --download-only "qt6-base=$(dpkg-query -W -f '${Version}' qt6-base-dev)" >&2)
    dsc=$(ls "$src"/qt6-base_"$version"*.dsc | head -1)
    dpkg-source -x "$dsc" "$src/qtbase-$version.tmp" >&2
    mv "$src/qtbase-$version.tmp" "$src/qtbase-$version"
fi

# Qt 6.4's Windows platform plugin asks for the dynamic OpenGL loader even when OpenGL is off.
sed -i '/static inline bool isSoftwareGl()/,/#endif/ s/#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$src/qtbase-$version/src/plugins/platforms/windows/qwindowswindow.cpp"

work=$cache/build-qt-$version-$key
start=$SECONDS
cmake -S "$src/qtbase-$version" -B "$work" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/toolchain-mingw64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    "${features[@]}" >&2
cmake --build "$work" -j"$jobs" >&2
cmake --install "$work" >&2
touch "$prefix/.complete"
echo "Qt for Windows built in $((SECONDS - start)) s" >&2
echo "$prefix"
