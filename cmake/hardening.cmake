# The hardening Debian gives its packages, for every build of this project
# (native, cross, sanitizer, fuzz and static alike):
#   - position-independent executables (and -fPIC libraries), so that ASLR
#     moves the program too;
#   - a strong stack protector and stack clash protection;
#   - fortified libc calls, where the compiler optimises: without optimisation
#     the checks cannot see object sizes and glibc warns; the sanitizers
#     intercept the plain functions and would miss the fortified ones;
#   - full RELRO with immediate binding and a non-executable stack;
#   - the processor's control-flow protection: IBT and shadow stack on x86-64
#     (endbr64 at indirect branch targets), BTI and return address signing on
#     aarch64 (GCC has no such protection for ppc64le and s390x). Hand-written
#     assembly gets the same option, so that its preprocessor sees __CET__ or
#     __ARM_FEATURE_BTI_DEFAULT and emits the landing pads and the property
#     note that keep a linked file marked.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(
  $<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>
  $<$<COMPILE_LANGUAGE:C,CXX>:-fstack-clash-protection>
  $<$<COMPILE_LANGUAGE:C,CXX>:-Wformat>
  $<$<COMPILE_LANGUAGE:C,CXX>:-Werror=format-security>)

if(NOT PROJECT_SANITIZE)
  # -U first: some distributions' compilers already define it, and a second
  # definition with another level is a warning.
  set(_optimised $<AND:$<COMPILE_LANGUAGE:C,CXX>,$<NOT:$<CONFIG:Debug>>>)
  add_compile_options($<${_optimised}:-U_FORTIFY_SOURCE> $<${_optimised}:-D_FORTIFY_SOURCE=2>)
endif()

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX,ASM>:-fcf-protection>)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX,ASM>:-mbranch-protection=standard>)
endif()

add_link_options(-Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack)
