# Every GoogleTest program (a target named test_*) also runs whole, in a shuffled order, split
# into ORRERY_TEST_SHARDS parallel shards labelled "shuffled". Tests then share a process with
# others in a fresh order each run, which is what `make test` runs; the order's seed is printed
# at the top of each shard's output (rerun one with GTEST_RANDOM_SEED=<seed>).
set(ORRERY_TEST_SHARDS 4 CACHE STRING "Shards each test program is split into for the shuffled runs")

# Under ThreadSanitizer: stop at the first report, pass over the memory calls that libraries not
# built with it make (Qt's and OpenSSL's own copies and frees, ordered by atomics it cannot see),
# read the suppressions of races inside Qt and the system libraries, and let test children made
# by fork (QProcess) run.
set(ORRERY_TEST_ENVIRONMENT QT_QPA_PLATFORM=offscreen)
if(ORRERY_TSAN)
  list(APPEND ORRERY_TEST_ENVIRONMENT
       "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 ignore_noninstrumented_modules=1 suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
endif()

function(orrery_add_shuffled_runs dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "EXECUTABLE" OR NOT target MATCHES "^test_")
      continue()
    endif()
    # A program that needs its own platform (the screen check's offscreen screens) names it in
    # its ORRERY_QPA_PLATFORM property; it comes last, so it wins over the default.
    get_target_property(platform ${target} ORRERY_QPA_PLATFORM)
    set(environment ${ORRERY_TEST_ENVIRONMENT})
    if(platform)
      list(APPEND environment "QT_QPA_PLATFORM=${platform}")
    endif()
    math(EXPR last "${ORRERY_TEST_SHARDS} - 1")
    foreach(shard RANGE ${last})
      add_test(NAME ${target}.shuffled.${shard} COMMAND ${target} --gtest_shuffle)
      set_tests_properties(${target}.shuffled.${shard} PROPERTIES
        LABELS shuffled
        ENVIRONMENT "GTEST_TOTAL_SHARDS=${ORRERY_TEST_SHARDS};GTEST_SHARD_INDEX=${shard};${environment}")
    endforeach()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    orrery_add_shuffled_runs(${sub})
  endforeach()
endfunction()
