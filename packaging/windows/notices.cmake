# THIRD-PARTY-NOTICES.txt for the Windows packages: the copyright notices and
# licence terms of what is linked into ventrix.exe, each as the Debian package
# it was built from states them, followed by the texts of the licences those
# statements refer to in /usr/share/common-licenses (a Windows host has none).
# Written at configure time into the build tree; the packages install it
# beside INSTALL.txt.

function(orvel_package_version package out)
  execute_process(COMMAND dpkg-query -W -f=\${Version} ${package} OUTPUT_VARIABLE version RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "notices: the package ${package} is not installed")
  endif()
  set(${out} ${version} PARENT_SCOPE)
endfunction()

set(log4cplus_doc ${log4cplus_DIR}/../../../share/doc/log4cplus)
file(STRINGS ${log4cplus_doc}/version log4cplus_version)
orvel_package_version(gcc-mingw-w64-x86-64-posix gcc_version)
orvel_package_version(mingw-w64-x86-64-dev mingw_version)

# Title, then file: the parts of the notices, in order.
set(parts
  "log4cplus, from Debian's source package log4cplus ${log4cplus_version}: its copyright file"
  ${log4cplus_doc}/copyright
  "log4cplus: its own LICENSE file, with the texts of both its licences"
  ${log4cplus_doc}/LICENSE
  "The GCC runtime (libstdc++, libgcc, libssp), from Debian's gcc-mingw-w64-x86-64-posix ${gcc_version}: its copyright file"
  /usr/share/doc/gcc-mingw-w64-x86-64-posix/copyright
  "The GNU General Public License, version 3, referred to above (the GCC Runtime Library Exception above applies)"
  /usr/share/common-licenses/GPL-3
  "The MinGW-w64 runtime (C runtime start-up, libmingwex, winpthreads), from Debian's mingw-w64-x86-64-dev ${mingw_version}: its copyright file"
  /usr/share/doc/mingw-w64-x86-64-dev/copyright)

set(text "Third-party notices for ventrix.exe
===================================

ventrix.exe, the platform launcher, has these linked into its one file:
- log4cplus ${log4cplus_version}, the logging library (Apache License 2.0 and
  two-clause BSD licence), built without its NT event log appender: the
  line of include/log4cplus/config/win32.h that enables it is taken out;
- the GCC runtime: libstdc++, libgcc and libssp (GPL 3 with the GCC Runtime
  Library Exception);
- the MinGW-w64 runtime: its C runtime start-up code, libmingwex and
  winpthreads (ZPL 2.1, MIT and other permissive licences).
Their copyright notices and licence terms follow.
")
list(LENGTH parts count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET parts ${i} title)
  list(GET parts ${j} file)
  file(READ ${file} body)
  string(APPEND text "\n\n==============================================================================\n${title}\n==============================================================================\n\n${body}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
endforeach()
# Written as it is (no @VAR@ or $<...> expansion), and touched only when it changes.
file(WRITE ${CMAKE_BINARY_DIR}/THIRD-PARTY-NOTICES.txt.new "${text}")
configure_file(${CMAKE_BINARY_DIR}/THIRD-PARTY-NOTICES.txt.new ${CMAKE_BINARY_DIR}/THIRD-PARTY-NOTICES.txt COPYONLY)
