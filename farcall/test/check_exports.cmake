# Fails unless the library's defined dynamic symbols are exactly the three
# registry entry points and the four trampoline entry points of every arity.
#   cmake -DLIBRARY=<libFarcall.so> -DNM=<nm> -DARITIES=<arities.h> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ @]+)(@@?[^ ]*)? ")
    list(APPEND exported ${CMAKE_MATCH_1})
  endif()
endforeach()

set(prefix com_tamsor_cobol_rununit_Farcall)
set(expected Java_${prefix}_open Java_${prefix}_findSymbol Java_${prefix}_close)
file(STRINGS ${ARITIES} arity_lines REGEX "^FARCALL_ARITY\\([0-9]+\\)$")
foreach(line IN LISTS arity_lines)
  string(REGEX REPLACE "^FARCALL_ARITY\\(([0-9]+)\\)$" "\\1" n "${line}")
  list(APPEND expected Java_${prefix}_cCall${n} Java_${prefix}_stdCall${n}
                       JavaCritical_${prefix}_cCall${n} JavaCritical_${prefix}_stdCall${n})
endforeach()

list(SORT exported)
list(REMOVE_DUPLICATES exported)
list(SORT expected)
list(LENGTH exported exported_count)
list(LENGTH expected expected_count)
set(unexpected ${exported})
list(REMOVE_ITEM unexpected ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${exported})
if(unexpected OR missing OR NOT exported_count EQUAL 263)
  message(FATAL_ERROR "exports differ: ${exported_count} exported, ${expected_count} expected\n"
    "unexpected: ${unexpected}\nmissing: ${missing}")
endif()
message(STATUS "${exported_count} exported symbols, as expected")
