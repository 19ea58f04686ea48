# The program is hardened as Debian builds its packages: dpkg-buildflags' hardening
# (_FORTIFY_SOURCE, the stack protector, format checks, read-only relocations bound at start),
# without its optimisation and debug flags (the build types set those) and without the build
# folder in the flags (which would keep a clone elsewhere from the compiler cache). They are read
# at every configure, once the packages are in place, so no build of the program goes without
# them: a configure that cannot have them fails. The checking builds do without, and the tests'
# own code drops the compile flags (fortification needs the optimiser it goes without).
option(ORRERY_HARDENING "Harden the program with the flags dpkg-buildflags gives Debian's packages" ON)
set(hardening_flags "")
set(hardening_link_flags "")
if(ORRERY_HARDENING AND NOT ORRERY_SANITIZE)
  find_program(DPKG_BUILDFLAGS dpkg-buildflags)
  if(NOT DPKG_BUILDFLAGS)
    message(FATAL_ERROR "dpkg-buildflags is missing, so the program cannot be hardened: 'make deps' installs "
                        "dpkg-dev (-DORRERY_HARDENING=OFF builds without hardening)")
  endif()
  function(orrery_read_buildflags out)
    set(flags "")
    foreach(kind IN LISTS ARGN)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-all"
                "DEB_CFLAGS_MAINT_STRIP=-g -O2" "DEB_CXXFLAGS_MAINT_STRIP=-g -O2" ${DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_VARIABLE error)
      if(failed OR value STREQUAL "")
        message(FATAL_ERROR "dpkg-buildflags --get ${kind} gave no flags: ${error}")
      endif()
      separate_arguments(value UNIX_COMMAND "${value}")
      list(APPEND flags ${value})
    endforeach()
    set(${out} ${flags} PARENT_SCOPE)
  endfunction()
  orrery_read_buildflags(hardening_flags CPPFLAGS CXXFLAGS)
  orrery_read_buildflags(hardening_link_flags LDFLAGS)
  list(JOIN hardening_flags " " compile_text)
  list(JOIN hardening_link_flags " " link_text)
  message(STATUS "Hardening: ${compile_text} ${link_text}")
endif()
add_compile_options(${hardening_flags})
add_link_options(${hardening_link_flags})
