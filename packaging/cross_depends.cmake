# Read by cpack (CPACK_PROJECT_CONFIG_FILE) in cross builds, where
# dpkg-shlibdeps cannot help: it finds the packages behind shared libraries
# in this machine's package database, which holds none of the target's.
#
# The Depends are derived from the same data instead, the target packages'
# own control files, unpacked beside the sysroot (tools/debian-sysroot.sh):
# every shared library that a package's binaries need (their NEEDED entries)
# is looked up in the shlibs files, which name the package that provides it;
# the lowest version of that package is the newest one in which a symbol
# version the binaries need from it appeared (the package's symbols file;
# without one, the shlibs entry as it stands). A needed library that no
# package there provides stops the packaging.
include(${CPACK_CROSS_BINARIES_FILE})

# The newest of the Debian versions in the list, by dpkg's rules.
function(newest_version result)
  set(newest "")
  foreach(version IN LISTS ARGN)
    if(newest)
      execute_process(COMMAND dpkg --compare-versions ${version} gt ${newest} RESULT_VARIABLE older)
      if(older EQUAL 0)
        set(newest ${version})
      endif()
    else()
      set(newest ${version})
    endif()
  endforeach()
  set(${result} "${newest}" PARENT_SCOPE)
endfunction()

function(escape_regex result text)
  string(REGEX REPLACE "([][+.*?()^$|\\\\])" "\\\\\\1" escaped "${text}")
  set(${result} "${escaped}" PARENT_SCOPE)
endfunction()

function(cross_debian_depends result)
  file(GLOB shlibs_files ${CPACK_CROSS_SYSROOT}/control/*/shlibs)
  set(packages "")
  foreach(binary IN LISTS ARGN)
    execute_process(COMMAND ${CPACK_CROSS_READELF} -d -V ${binary}
      OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${CPACK_CROSS_READELF} failed on ${binary}")
    endif()
    string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" needed_entries "${dynamic}")
    foreach(entry IN LISTS needed_entries)
      string(REGEX REPLACE ".*\\[([^]]+)\\]$" "\\1" soname "${entry}")
      # shlibs name a library as "libfoo 6" (libfoo.so.6) or "libfoo-1.2" (libfoo-1.2.so).
      if(soname MATCHES "^(.+)\\.so\\.([0-9.]+)$")
        set(key "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
      elseif(soname MATCHES "^(.+)-([0-9.]+)\\.so$")
        set(key "${CMAKE_MATCH_1}-${CMAKE_MATCH_2}")
      else()
        message(FATAL_ERROR "${binary} needs ${soname}, which no shlibs entry can name")
      endif()
      escape_regex(key_pattern "${key}")
      set(shlibs_dependency "")
      foreach(shlibs IN LISTS shlibs_files)
        file(STRINGS ${shlibs} lines REGEX "^${key_pattern} ")
        if(lines)
          list(GET lines 0 line)
          string(REGEX REPLACE "^${key_pattern} +" "" shlibs_dependency "${line}")
          break()
        endif()
      endforeach()
      if(NOT shlibs_dependency MATCHES "^([^ ]+)( \\(>= ([^)]+)\\))?$")
        message(FATAL_ERROR "${binary} needs ${soname}, which no package in ${CPACK_CROSS_SYSROOT} provides")
      endif()
      set(package ${CMAKE_MATCH_1})
      set(versions ${CMAKE_MATCH_3})

      # The symbol versions needed from this library ("File: soname" and
      # the "Name: node" lines under it).
      set(symbols ${CPACK_CROSS_SYSROOT}/control/${package}/symbols)
      escape_regex(soname_pattern "${soname}")
      string(REGEX MATCH "File: ${soname_pattern}  Cnt: [0-9]+\n(  0x[0-9a-f]+:   Name: [^\n]+\n)*" nodes_text "${dynamic}")
      string(REGEX MATCHALL "Name: [^ ]+" nodes "${nodes_text}")
      if(EXISTS ${symbols} AND nodes)
        set(versions "")
        foreach(node IN LISTS nodes)
          string(REPLACE "Name: " "" node "${node}")
          escape_regex(node_pattern "${node}")
          # The node's own symbol ("GLIBC_2.34@GLIBC_2.34 2.34") dates it;
          # without one, the newest of its symbols does.
          file(STRINGS ${symbols} node_lines REGEX "^ ${node_pattern}@${node_pattern} ")
          if(NOT node_lines)
            file(STRINGS ${symbols} node_lines REGEX "@${node_pattern} ")
          endif()
          if(NOT node_lines)
            message(FATAL_ERROR "${binary} needs ${node} of ${soname}, unknown to ${package}'s symbols")
          endif()
          foreach(node_line IN LISTS node_lines)
            string(REGEX REPLACE ".*@${node_pattern} +([^ ]+).*" "\\1" version "${node_line}")
            list(APPEND versions ${version})
          endforeach()
        endforeach()
      endif()
      list(APPEND packages ${package})
      list(APPEND versions_of_${package} ${versions})
    endforeach()
  endforeach()

  list(REMOVE_DUPLICATES packages)
  list(SORT packages)
  set(depends "")
  foreach(package IN LISTS packages)
    list(REMOVE_DUPLICATES versions_of_${package})
    newest_version(version ${versions_of_${package}})
    if(version)
      list(APPEND depends "${package} (>= ${version})")
    else()
      list(APPEND depends "${package}")
    endif()
  endforeach()
  list(JOIN depends ", " depends)
  set(${result} "${depends}" PARENT_SCOPE)
endfunction()

cross_debian_depends(CPACK_DEBIAN_GHOSTDPY_PACKAGE_DEPENDS ${CPACK_CROSS_GHOSTDPY_BINARIES})
cross_debian_depends(CPACK_DEBIAN_FARCALL_PACKAGE_DEPENDS ${CPACK_CROSS_FARCALL_BINARIES})
message(STATUS "Depends of ghostdpy: ${CPACK_DEBIAN_GHOSTDPY_PACKAGE_DEPENDS}")
message(STATUS "Depends of libfarcall-java: ${CPACK_DEBIAN_FARCALL_PACKAGE_DEPENDS}")
