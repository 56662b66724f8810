# Cross build for IBM Z Linux (z/Architecture, s390x ELF ABI, big-endian)
# with Debian's cross toolchain (g++-s390x-linux-gnu), tested under qemu-user
# (qemu-s390x) with Debian's s390x packages in a sysroot
# (cmake/debian-cross.cmake says how).
#   cmake --preset s390x        (or -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CROSS_TRIPLET s390x-linux-gnu)
set(CROSS_DEBIAN_ARCH s390x)
set(CROSS_EMULATOR qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
