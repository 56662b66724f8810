cmake_minimum_required(VERSION 3.25)
# Makes farcall.jar from the class jar, the manifest and the libFarcall
# builds named in NATIVES_FILE (a list NATIVES of platform=path pairs), each
# stored as com/tamsor/cobol/rununit/<platform>/libFarcall.so. STRIP, when
# given, removes the debugging information of the copies it understands.
#   cmake -DJAR_TOOL=<jar> -DSTRIP=<strip> -DCLASSES=<classes.jar> -DMANIFEST=<file>
#         -DNATIVES_FILE=<file> -DSTAGING=<dir> -DOUTPUT=<farcall.jar>
#         -P assemble_farcall_jar.cmake
include(${NATIVES_FILE})

file(REMOVE_RECURSE ${STAGING})
file(MAKE_DIRECTORY ${STAGING})
execute_process(COMMAND ${JAR_TOOL} --extract --file ${CLASSES}
  WORKING_DIRECTORY ${STAGING} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${STAGING}/META-INF)

set(platforms "")
foreach(pair IN LISTS NATIVES)
  string(REGEX REPLACE "=.*$" "" platform "${pair}")
  string(REGEX REPLACE "^[^=]*=" "" library "${pair}")
  if(platform IN_LIST platforms)
    message(FATAL_ERROR "two libFarcall builds for ${platform}")
  endif()
  list(APPEND platforms ${platform})
  if(NOT EXISTS ${library})
    message(FATAL_ERROR "no libFarcall for ${platform} at ${library}")
  endif()
  set(copy ${STAGING}/com/tamsor/cobol/rununit/${platform}/libFarcall.so)
  file(MAKE_DIRECTORY ${STAGING}/com/tamsor/cobol/rununit/${platform})
  file(COPY_FILE ${library} ${copy})
  if(STRIP)
    # A strip for another architecture leaves the copy as it is.
    execute_process(COMMAND ${STRIP} --strip-debug ${copy} RESULT_VARIABLE ignored OUTPUT_QUIET ERROR_QUIET)
  endif()
endforeach()

file(REMOVE ${OUTPUT})
execute_process(COMMAND ${JAR_TOOL} --create --file ${OUTPUT} --manifest ${MANIFEST} -C ${STAGING} .
  COMMAND_ERROR_IS_FATAL ANY)
