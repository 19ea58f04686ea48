# Every GoogleTest program (a target named test_*) also runs whole, in a shuffled order, split
# into ORRERY_TEST_SHARDS parallel shards labelled "shuffled". Tests then share a process with
# others in a fresh order each run, which is what `make test` runs; the order's seed is printed
# at the top of each shard's output (rerun one with GTEST_RANDOM_SEED=<seed>).
set(ORRERY_TEST_SHARDS 4 CACHE STRING "Shards each test program is split into for the shuffled runs")

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
    set(environment "")
    if(platform)
      set(environment "QT_QPA_PLATFORM=${platform}")
    endif()
    math(EXPR last "${ORRERY_TEST_SHARDS} - 1")
    foreach(shard RANGE ${last})
      add_test(NAME ${target}.shuffled.${shard} COMMAND ${target} --gtest_shuffle)
      set_tests_properties(${target}.shuffled.${shard} PROPERTIES LABELS shuffled)
      orrery_set_test_environment(${target}.shuffled.${shard}
        GTEST_TOTAL_SHARDS=${ORRERY_TEST_SHARDS} GTEST_SHARD_INDEX=${shard} ${environment})
    endforeach()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    orrery_add_shuffled_runs(${sub})
  endforeach()
endfunction()
