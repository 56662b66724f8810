# Renders the manual page with every groff warning on; any warning fails.
#   cmake -DGROFF=<groff> -DPAGE=<page> -P lint_manual_page.cmake
execute_process(COMMAND ${GROFF} -ww -z -man -Tutf8 ${PAGE}
  RESULT_VARIABLE status ERROR_VARIABLE warnings OUTPUT_QUIET)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff found problems in ${PAGE} (status ${status}):\n${warnings}")
endif()
