# The Debian 12 packages each command needs; sourced by the scripts beside it.
# shellcheck disable=SC2034
BUILD_PACKAGES=(g++ cmake make pkg-config qt6-base-dev qt6-serialport-dev fonts-arphic-uming)
# clang and its runtimes build the sanitizer tree and the fuzz targets; llvm-14 brings the
# symbolizer that puts file and line into sanitizer reports. ser2net serves ptys over the
# network to the tests of network ports. ccache keeps compiled files between runs of the tests.
TEST_PACKAGES=("${BUILD_PACKAGES[@]}" clang-14 libclang-rt-14-dev llvm-14 ser2net ccache)
# The Windows build (scripts/build-windows.sh): the mingw-w64 cross compilers, Qt's own source
# (dpkg-dev unpacks it) built with Debian's moc, rcc and uic, and zip for the package. Its check
# (scripts/test-windows.sh) runs the package under wine on a virtual display.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix cmake ninja-build qt6-base-dev dpkg-dev zip)
WINDOWS_TEST_PACKAGES=("${WINDOWS_PACKAGES[@]}" wine wine64 unzip xvfb xdotool imagemagick python3
                       fonts-arphic-uming)
