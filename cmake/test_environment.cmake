# What every test of a build runs with, whether `make test` starts it or a ctest run by hand.
# Each checking build has one sanitizer and so one options entry, given to ctest as an
# ENVIRONMENT_MODIFICATION: a single entry survives gtest_discover_tests' PROPERTIES, which
# splits a list value into separate arguments.
#
# ThreadSanitizer: stop at the first report, pass over the memory calls that libraries not
# built with it make (Qt's and OpenSSL's own copies and frees, ordered by atomics it cannot see),
# read the suppressions of races inside Qt and the system libraries, and let test children made
# by fork (QProcess) run.
#
# AddressSanitizer (the sanitizer build and the fuzz build): the runtime of GCC up to 13 and
# LLVM up to 16 can take a dynamic TLS block for an old glibc header in its __tls_get_addr
# interceptor and read garbage, so LeakSanitizer dies at the exit of a program whose tests all
# passed. Without the interceptor leaks are still reported.
set(ORRERY_TEST_PLATFORM QT_QPA_PLATFORM=offscreen)
set(ORRERY_SANITIZER_OPTIONS "")
if(ORRERY_TSAN)
  set(ORRERY_SANITIZER_OPTIONS
      "TSAN_OPTIONS=set:halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 ignore_noninstrumented_modules=1 suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
elseif(ORRERY_SANITIZE)
  set(ORRERY_SANITIZER_OPTIONS "ASAN_OPTIONS=set:intercept_tls_get_addr=0")
endif()

# The properties each discovered single test gets (gtest_discover_tests(… PROPERTIES ${…})).
set(ORRERY_TEST_PROPERTIES ENVIRONMENT ${ORRERY_TEST_PLATFORM})
if(ORRERY_SANITIZER_OPTIONS)
  list(APPEND ORRERY_TEST_PROPERTIES ENVIRONMENT_MODIFICATION "${ORRERY_SANITIZER_OPTIONS}")
endif()

# Gives `test` the build's environment; the entries in `ARGN` come after, so they win.
function(orrery_set_test_environment test)
  set(environment ${ORRERY_TEST_PLATFORM} ${ARGN})
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${environment}")
  if(ORRERY_SANITIZER_OPTIONS)
    set_tests_properties(${test} PROPERTIES ENVIRONMENT_MODIFICATION "${ORRERY_SANITIZER_OPTIONS}")
  endif()
endfunction()
