# Cross build for aarch64 Linux (AAPCS64) with Debian's cross toolchain
# (g++-aarch64-linux-gnu), tested under qemu-user (qemu-aarch64).
#
# Programs link against the cross toolchain's C and C++ libraries; what else
# the arm64 side needs (the JDK 17 the JNI checks run on, libxcb and libX11
# with their headers, and the run-time libraries qemu's loader finds) comes
# from Debian's arm64 packages unpacked into AARCH64_SYSROOT by
# tools/aarch64-sysroot.sh, which this file runs when the sysroot is missing.
#   cmake --preset aarch64      (or -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_ASM_COMPILER aarch64-linux-gnu-gcc)

# This file is read again for every check compilation: carry the sysroot.
if(NOT AARCH64_SYSROOT)
  cmake_path(ABSOLUTE_PATH CMAKE_CURRENT_LIST_DIR NORMALIZE OUTPUT_VARIABLE _aarch64_source_dir)
  cmake_path(GET _aarch64_source_dir PARENT_PATH _aarch64_source_dir)
  set(AARCH64_SYSROOT ${_aarch64_source_dir}/build/aarch64/sysroot)
endif()
set(AARCH64_SYSROOT ${AARCH64_SYSROOT} CACHE PATH "arm64 packages unpacked for the cross build")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES AARCH64_SYSROOT)

if(NOT EXISTS ${AARCH64_SYSROOT}/.packages)
  message(STATUS "Fetching the arm64 sysroot into ${AARCH64_SYSROOT}")
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../tools/aarch64-sysroot.sh ${AARCH64_SYSROOT}
    COMMAND_ERROR_IS_FATAL ANY)
endif()

# Tests run under qemu with the sysroot as the root of its loader and of the
# libraries the programs need. -cpu max: branch protection (BTI) included.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-cpu;max;-L;${AARCH64_SYSROOT})

# Libraries and headers from the sysroot and the cross toolchain, programs
# (javac, jar, readelf) from this machine.
set(CMAKE_FIND_ROOT_PATH ${AARCH64_SYSROOT} /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_LIBDIR} "${AARCH64_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${AARCH64_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${AARCH64_SYSROOT})
# The sysroot's libraries need their own dependencies at link time.
set(_aarch64_rpath_link
  "-Wl,-rpath-link,${AARCH64_SYSROOT}/usr/lib/aarch64-linux-gnu:${AARCH64_SYSROOT}/lib/aarch64-linux-gnu")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${_aarch64_rpath_link})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${_aarch64_rpath_link})

# The JDK whose jni.h libFarcall is built against and whose java runs the
# JNI checks (the host's JDK still compiles the Java sources).
set(FARCALL_TARGET_JAVA_HOME ${AARCH64_SYSROOT}/usr/lib/jvm/java-17-openjdk-arm64)
