#!/usr/bin/env bash
# Builds the Debian package and checks it: the files it installs, its Depends line, and that the
# packaged program runs. It is made in its own Release tree, build-deb/, or in $PACKAGE_BUILD_DIR;
# a tree that is already configured there (the test command's g++ tree) is used as it is, so
# that the program is not compiled again (the package's binaries are stripped either way).
# Prints the path of the .deb on success; exits non-zero with the reason on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
# dpkg-shlibdeps (dpkg-dev) and file are what CPack uses to derive the shared-library Depends.
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" dpkg-dev file

build_dir=${PACKAGE_BUILD_DIR:-build-deb}
fail() { echo "check-package: FAIL: $*" >&2; exit 1; }

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
          -DLIGHTBENCH_BUILD_TESTS=OFF -DLIGHTBENCH_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build_dir" -j"$(nproc)" --target lightbench lightbench-sim
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build_dir/CMakeCache.txt"

rm -f "$build_dir"/lightbench_*.deb
(cd "$build_dir" && cpack -G DEB >cpack.log 2>&1) || { cat "$build_dir/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$build_dir"/lightbench_"$version"_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no lightbench_${version}_*.deb in $build_dir"
deb=${debs[0]}

contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for path in ./usr/bin/lightbench \
            ./usr/share/applications/lightbench.desktop \
            ./usr/share/icons/hicolor/16x16/apps/lightbench.png \
            ./usr/share/icons/hicolor/32x32/apps/lightbench.png; do
    grep -qxF "$path" <<<"$contents" || fail "$deb does not contain $path"
done

[ "$(dpkg-deb --field "$deb" Package)" = lightbench ] || fail "package name is not lightbench"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb --field "$deb" Depends)
# Package names as listed, without version constraints or alternatives' separators.
depend_names=$(tr ',|' '\n' <<<"$depends" | sed 's/(.*)//; s/[[:space:]]//g' | sed '/^$/d')
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 fonts-arphic-uming; do
    grep -qxF "$package" <<<"$depend_names" || fail "Depends lacks $package: $depends"
done

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop="$unpacked/usr/share/applications/lightbench.desktop"
grep -qx 'Exec=lightbench' "$desktop" || fail "the desktop entry does not start lightbench"
grep -qx 'Icon=lightbench' "$desktop" || fail "the desktop entry does not name the lightbench icon"
# desktop-file-utils is not required; where it is installed the entry must pass it.
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
fi
for size in 16 32; do
    icon="$unpacked/usr/share/icons/hicolor/${size}x${size}/apps/lightbench.png"
    file -b "$icon" | grep -q "PNG image data, $size x $size" || fail "$icon is not a ${size}x${size} PNG"
done
printed=$("$unpacked/usr/bin/lightbench" --version) || fail "the packaged lightbench --version exited non-zero"
[ "$printed" = "Lightbench $version" ] || fail "the packaged lightbench --version printed '$printed', not 'Lightbench $version'"

echo "check-package: OK: $deb"
echo "  Depends: $depends"
