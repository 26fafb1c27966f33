# The Debian 12 packages each command needs; sourced by the scripts beside it.
# shellcheck disable=SC2034
BUILD_PACKAGES=(g++ cmake make pkg-config qt6-base-dev qt6-serialport-dev fonts-arphic-uming)
TEST_PACKAGES=("${BUILD_PACKAGES[@]}" clang-14 libclang-rt-14-dev)
