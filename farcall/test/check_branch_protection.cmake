# Fails unless every object file carries the GNU property note that marks it
# compatible with aarch64 branch target identification and pointer
# authentication.
#   cmake -DREADELF=<readelf> "-DOBJECTS=<a.o;b.o;...>" -P check_branch_protection.cmake
if(NOT OBJECTS)
  message(FATAL_ERROR "no object files given")
endif()
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND ${READELF} -n ${object} OUTPUT_VARIABLE notes RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${READELF} failed on ${object}")
  endif()
  if(NOT notes MATCHES "AArch64 feature: BTI, PAC")
    message(FATAL_ERROR "${object} is not marked BTI and PAC compatible:\n${notes}")
  endif()
  cmake_path(GET object FILENAME name)
  message(STATUS "${name}: BTI, PAC")
endforeach()
