# Cross build for 64-bit PowerPC little-endian Linux (ELFv2) with Debian's
# cross toolchain (g++-powerpc64le-linux-gnu), tested under qemu-user
# (qemu-ppc64le) with Debian's ppc64el packages in a sysroot
# (cmake/debian-cross.cmake says how).
#   cmake --preset ppc64le      (or -DCMAKE_TOOLCHAIN_FILE=cmake/ppc64le-linux-gnu.cmake)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(CROSS_TRIPLET powerpc64le-linux-gnu)
set(CROSS_DEBIAN_ARCH ppc64el)
set(CROSS_EMULATOR qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
