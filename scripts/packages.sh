# The Debian 12 packages each command needs; sourced by the scripts beside it.
# shellcheck disable=SC2034
BUILD_PACKAGES=(g++ cmake make pkg-config qt6-base-dev qt6-serialport-dev fonts-arphic-uming)
# clang and its runtimes build the sanitizer tree and the fuzz targets; llvm-14 brings the
# symbolizer that puts file and line into sanitizer reports. ser2net serves ptys over the
# network to the tests of network ports. ccache keeps compiled files between runs of the tests.
TEST_PACKAGES=("${BUILD_PACKAGES[@]}" clang-14 libclang-rt-14-dev llvm-14 ser2net ccache)
