# Reads the hardening of one built binary back from the files with readelf,
# as hardening-check does, and fails with a line per missing property.
#
#   cmake -DREADELF=readelf -DFILE=<linked binary> -DOBJECTS=<a|b|...>
#         -DSTART_FILE=<the toolchain's crti.o> -DPROCESSOR=<x86_64|aarch64>
#         -DFORTIFIED=<0|1> -DSTATIC=<0|1> -P check_hardening.cmake
#
# FILE is an executable or a shared library (by its .so name). OBJECTS are
# the archives and object files of the project's own code linked into it:
# what the compiler decides is checked there, since a static link brings the
# C library's own protected functions along and would hide a missing flag.
#   - Stack protector: the objects call __stack_chk_fail, or GCC's record of
#     their options (DW_AT_producer) names the protector (code without local
#     arrays needs no canary and never calls it).
#   - Fortified calls (FORTIFIED=1): the objects call a __*_chk function.
#   - Control-flow protection: every object carries the property note. The
#     linked file carries it only when every input has it, the C library's
#     start files included: it is required of FILE when START_FILE has it.

set(failures "")
macro(fail text)
  string(APPEND failures "  ${text}\n")
endmacro()

function(readelf options path out)
  execute_process(COMMAND ${READELF} ${options} ${path}
    OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${READELF} ${options} ${path} failed: ${errors}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The control-flow marking of the processor, and the option that makes it.
if(PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(feature_pattern "x86 feature: IBT, SHSTK")
  set(control_flow_option "-fcf-protection")
elseif(PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  set(feature_pattern "AArch64 feature: BTI, PAC")
  set(control_flow_option "-mbranch-protection=standard")
else()
  set(feature_pattern "")
  set(control_flow_option "")
endif()

# The linked file.
cmake_path(GET FILE FILENAME name)
readelf(-hW ${FILE} header)
readelf(-dW ${FILE} dynamic)
readelf(-lW ${FILE} segments)
if(NOT header MATCHES "Type: +DYN")
  fail("${name}: not position-independent (ELF type is not DYN)")
endif()
if(NOT name MATCHES "\\.so(\\.|$)" AND NOT dynamic MATCHES "\\(FLAGS_1\\)[^\n]* PIE")
  fail("${name}: no PIE flag in FLAGS_1")
endif()
if(NOT dynamic MATCHES "\\(FLAGS\\)[^\n]* BIND_NOW" AND NOT dynamic MATCHES "\\(FLAGS_1\\)[^\n]* NOW")
  fail("${name}: symbols are bound lazily (no BIND_NOW)")
endif()
if(NOT segments MATCHES "GNU_RELRO")
  fail("${name}: no GNU_RELRO segment")
endif()
if(NOT segments MATCHES "GNU_STACK[^\n]* RW ")
  fail("${name}: the stack is executable, or the GNU_STACK segment is missing")
endif()
if(STATIC)
  if(segments MATCHES "INTERP")
    fail("${name}: asks for a program interpreter")
  endif()
  if(dynamic MATCHES "\\(NEEDED\\)")
    fail("${name}: needs shared libraries")
  endif()
endif()

if(feature_pattern)
  readelf(-nW ${START_FILE} start_notes)
  readelf(-nW ${FILE} notes)
  if(start_notes MATCHES "${feature_pattern}")
    if(NOT notes MATCHES "${feature_pattern}")
      fail("${name}: no '${feature_pattern}' property although the C library's start files have it")
    endif()
  else()
    message(STATUS "${name}: not marked as a whole (${START_FILE} carries no '${feature_pattern}' property)")
  endif()
endif()

# The project's own code in it.
string(REPLACE "|" ";" objects "${OBJECTS}")
set(stack_protected OFF)
set(compiled_protected OFF)
set(fortified OFF)
foreach(object IN LISTS objects)
  readelf(-sW ${object} symbols)
  if(symbols MATCHES " UND __stack_chk_fail\n")
    set(stack_protected ON)
  endif()
  readelf("--debug-dump=info;--dwarf-depth=1" ${object} units)
  string(REGEX MATCHALL "DW_AT_producer[^\n]*: GNU C[^\n]*" producers "${units}")
  foreach(producer IN LISTS producers)
    string(REGEX REPLACE ".*: GNU " "GNU " producer "${producer}")
    set(compiled_protected ON)
    foreach(option -fstack-protector-strong -fstack-clash-protection ${control_flow_option})
      if(NOT producer MATCHES " ${option}")
        fail("${object}: compiled without ${option} (${producer})")
      endif()
    endforeach()
  endforeach()
  string(REGEX MATCHALL " UND __[a-z0-9_]+_chk\n" checked "${symbols}")
  list(FILTER checked EXCLUDE REGEX "__stack_chk_fail")
  if(checked)
    set(fortified ON)
  endif()
  if(feature_pattern)
    readelf(-nW ${object} notes)
    cmake_path(GET object FILENAME object_name)
    if(NOT object_name MATCHES "\\.a$")
      if(NOT notes MATCHES "${feature_pattern}")
        fail("${object_name}: no '${feature_pattern}' property")
      endif()
      continue()
    endif()
    # An archive lists its members as "File: archive(member)", each followed
    # by its notes.
    string(REPLACE ";" "," notes "${notes}")
    string(REGEX REPLACE "\nFile: " ";" members "\n${notes}")
    list(POP_FRONT members)
    foreach(member IN LISTS members)
      string(REGEX MATCH "^[^\n]+" member_name "${member}")
      if(NOT member MATCHES "${feature_pattern}")
        fail("${member_name}: no '${feature_pattern}' property")
      endif()
    endforeach()
  endif()
endforeach()
if(NOT stack_protected AND NOT compiled_protected)
  fail("${name}: none of its own objects calls __stack_chk_fail, and none records its options")
endif()
if(FORTIFIED AND NOT fortified)
  fail("${name}: none of its own objects calls a fortified (__*_chk) function")
endif()

if(failures)
  message(FATAL_ERROR "hardening of ${FILE}:\n${failures}")
endif()
set(found "PIE, BIND_NOW, RELRO, no executable stack, stack protector")
if(FORTIFIED)
  string(APPEND found ", fortified calls")
endif()
if(feature_pattern)
  string(APPEND found ", '${feature_pattern}' on its own objects")
endif()
if(STATIC)
  string(APPEND found ", no interpreter, no shared libraries")
endif()
message(STATUS "${name}: ${found}")
