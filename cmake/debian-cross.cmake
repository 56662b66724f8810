# What the cross toolchain files share: a build for another Debian
# architecture with Debian's cross compiler (g++-<triplet>), tested under
# qemu-user. Each toolchain file names the processor and the tools, then
# includes this file:
#   CMAKE_SYSTEM_PROCESSOR   the processor, as CMake and the sources name it
#   CROSS_TRIPLET            the GNU triplet, also Debian's multiarch name
#   CROSS_DEBIAN_ARCH        Debian's name of the architecture (arm64, ppc64el, s390x)
#   CROSS_EMULATOR           the qemu-user program and its options
#
# Programs link against the cross toolchain's C and C++ libraries; what else
# the target side needs (the JDK 17 the JNI checks run on, libxcb and libX11
# with their headers, and the run-time libraries qemu's loader finds) comes
# from Debian's packages of that architecture, unpacked into DEBIAN_SYSROOT
# by tools/debian-sysroot.sh, which this file runs when the sysroot is
# missing (the downloads are cached outside the build tree; see the script).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)
set(CMAKE_ASM_COMPILER ${CROSS_TRIPLET}-gcc)

# The toolchain file is read again for every check compilation: carry the sysroot.
if(NOT DEBIAN_SYSROOT)
  cmake_path(ABSOLUTE_PATH CMAKE_CURRENT_LIST_DIR NORMALIZE OUTPUT_VARIABLE _cross_source_dir)
  cmake_path(GET _cross_source_dir PARENT_PATH _cross_source_dir)
  set(DEBIAN_SYSROOT ${_cross_source_dir}/build/${CMAKE_SYSTEM_PROCESSOR}/sysroot)
endif()
set(DEBIAN_SYSROOT ${DEBIAN_SYSROOT} CACHE PATH "${CROSS_DEBIAN_ARCH} packages unpacked for the cross build")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DEBIAN_SYSROOT)

if(NOT EXISTS ${DEBIAN_SYSROOT}/.packages)
  message(STATUS "Fetching the ${CROSS_DEBIAN_ARCH} sysroot into ${DEBIAN_SYSROOT}")
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../tools/debian-sysroot.sh ${CROSS_DEBIAN_ARCH} ${DEBIAN_SYSROOT}
    COMMAND_ERROR_IS_FATAL ANY)
endif()

# Tests run under qemu with the sysroot as the root of its loader and of the
# libraries the programs need.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_EMULATOR};-L;${DEBIAN_SYSROOT})

# Libraries and headers from the sysroot and the cross toolchain, programs
# (javac, jar, readelf) from this machine.
set(CMAKE_FIND_ROOT_PATH ${DEBIAN_SYSROOT} /usr/${CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE ${CROSS_TRIPLET})
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_LIBDIR} "${DEBIAN_SYSROOT}/usr/lib/${CROSS_TRIPLET}/pkgconfig:${DEBIAN_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${DEBIAN_SYSROOT})
# The sysroot's libraries need their own dependencies at link time.
set(_cross_rpath_link
  "-Wl,-rpath-link,${DEBIAN_SYSROOT}/usr/lib/${CROSS_TRIPLET}:${DEBIAN_SYSROOT}/lib/${CROSS_TRIPLET}")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${_cross_rpath_link})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${_cross_rpath_link})

# The JDK whose jni.h libFarcall is built against and whose java runs the
# JNI checks (the host's JDK still compiles the Java sources).
set(FARCALL_TARGET_JAVA_HOME ${DEBIAN_SYSROOT}/usr/lib/jvm/java-17-openjdk-${CROSS_DEBIAN_ARCH})
