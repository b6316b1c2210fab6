# How every binary we ship is compiled, our own code and the libraries linked
# into it (the log4cplus builds include this file through
# CMAKE_PROJECT_INCLUDE). Two concerns:
# - hardened as Debian builds every program it ships: dpkg-buildflags with
#   DEB_BUILD_MAINT_OPTIONS=hardening=+all on Debian 12 gives these flags, and
#   PIE comes from the compiler's default. The sanitizer presets turn it off:
#   their runtimes want neither the fortified functions nor the stack guard.
# - reproducible: no build folder in any output, no clock in a PE header.
option(ORVEL_HARDEN "Compile and link with the distribution's hardening flags" ON)

if(ORVEL_HARDEN)
  add_compile_options(-fstack-protector-strong)
  if(WIN32)
    # MinGW takes the guard from libssp, linked statically with the rest.
    add_link_options(-fstack-protector-strong)
  else()
    add_compile_options(-Wformat -Werror=format-security -Wdate-time)
    add_compile_definitions(_FORTIFY_SOURCE=2)
    add_link_options(LINKER:-z,relro LINKER:-z,now)
  endif()
endif()

# The build folder is mapped last, so that it wins where it lies inside the source.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
if(WIN32)
  add_link_options(LINKER:--no-insert-timestamp)
endif()
