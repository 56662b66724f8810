# Cross build for aarch64 Linux (AAPCS64) with Debian's cross toolchain
# (g++-aarch64-linux-gnu), tested under qemu-user (qemu-aarch64) with Debian's
# arm64 packages in a sysroot (cmake/debian-cross.cmake says how).
#   cmake --preset aarch64      (or -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CROSS_TRIPLET aarch64-linux-gnu)
set(CROSS_DEBIAN_ARCH arm64)
# -cpu max: branch protection (BTI) included.
set(CROSS_EMULATOR qemu-aarch64;-cpu;max)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
