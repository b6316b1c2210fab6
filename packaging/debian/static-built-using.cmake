# What the Linux ventrix carries copies of, as Debian declares them
# (Static-Built-Using): the source package and exact version of each library
# linked in, read from the build itself:
# - log4cplus: the version scripts/build-log4cplus built;
# - the GCC runtime: the Debian package that owns the libstdc++.a and libgcc.a
#   this compiler links, and its source.
# Written at configure time to static-built-using in the build tree, one
# "source (= version)" a line, for scripts/package and the release check.

function(orvel_source_of_file file out)
  execute_process(COMMAND dpkg-query -S ${file} OUTPUT_VARIABLE owner RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    message(FATAL_ERROR "static-built-using: no Debian package owns ${file}")
  endif()
  string(REGEX REPLACE ":.*" "" owner "${owner}")
  execute_process(COMMAND dpkg-query -W "-f=\${source:Package} (= \${source:Version})" ${owner}
                  OUTPUT_VARIABLE source RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "static-built-using: the package ${owner} is not installed")
  endif()
  set(${out} ${source} PARENT_SCOPE)
endfunction()

set(log4cplus_version_file ${log4cplus_DIR}/../../../share/doc/log4cplus/version)
file(STRINGS ${log4cplus_version_file} log4cplus_version)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${log4cplus_version_file})
set(static_built_using "log4cplus (= ${log4cplus_version})")
foreach(runtime libstdc++.a libgcc.a)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime} OUTPUT_VARIABLE path
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  orvel_source_of_file(${path} source)
  list(APPEND static_built_using ${source})
endforeach()
list(REMOVE_DUPLICATES static_built_using)
list(SORT static_built_using)
list(JOIN static_built_using "\n" text)
file(WRITE ${CMAKE_BINARY_DIR}/static-built-using "${text}\n")
