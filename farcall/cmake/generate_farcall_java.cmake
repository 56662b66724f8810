# Writes Farcall.java from its template, declaring the call methods
# cCall0 ... cCall64 and stdCall0 ... stdCall64.
# The arities are read from the list that the trampolines are built from.
# JAR_TO_LIBRARY is where an installed libFarcall.so lies, relative to the
# directory of the installed jar.
#   cmake -DTEMPLATE=<Farcall.java.in> -DARITIES=<arities.h> -DOUTPUT=<Farcall.java>
#         -DJAR_TO_LIBRARY=<relative path> -P generate_farcall_java.cmake
file(STRINGS ${ARITIES} arity_lines REGEX "^FARCALL_ARITY\\([0-9]+\\)$")
set(arities "")
foreach(line IN LISTS arity_lines)
  string(REGEX REPLACE "^FARCALL_ARITY\\(([0-9]+)\\)$" "\\1" n "${line}")
  list(APPEND arities ${n})
endforeach()

set(declarations "")
foreach(family cCall stdCall)
  foreach(n IN LISTS arities)
    set(parameters "")
    if(n GREATER 0)
      foreach(i RANGE 1 ${n})
        string(APPEND parameters "long a${i}, ")
      endforeach()
    endif()
    if(n EQUAL 1)
      set(what "one argument")
    else()
      set(what "${n} arguments")
    endif()
    string(APPEND declarations
      "    /** Calls the function at address fn with ${what}; its 64-bit result. */\n"
      "    public static native long ${family}${n}(${parameters}long fn);\n")
  endforeach()
endforeach()
set(FARCALL_CALL_DECLARATIONS "${declarations}")
set(FARCALL_JAR_TO_LIBRARY "${JAR_TO_LIBRARY}")
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
