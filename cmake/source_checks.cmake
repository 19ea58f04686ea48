# Checks on the sources themselves, for the full build:
# - every header under src/ compiles on its own, with the usage requirements of the folder library
#   that owns it, as part of the normal build, so a header that leans on its includer's includes
#   fails the build. A header whose own .cpp (built by its owner) includes it before anything
#   else is already compiled alone there; every other header gets a generated .cpp that includes
#   only it, parsed only (cmake/syntax_only.sh), never precompiled or merged into unity files;
# - the layering test (tests/layering) refuses an include of a folder above the includer's own,
#   and the coverage test finds every header compiled alone by one of the two ways above;
# - the user-text test finds literals handed straight to notices, alerts, menus and titles.
# And the benchmark tables' script, on made-up runs: a failed benchmark is never a figure.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME layering COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/layering/check_layering.py
                               ${PROJECT_SOURCE_DIR}/src)
add_test(NAME user_texts COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/layering/check_user_texts.py
                                 ${PROJECT_SOURCE_DIR}/src)
add_test(NAME layering_rules COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/layering/check_layering_test.py)
add_test(NAME bench_table_rules COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/layering/bench_table_test.py)
add_test(NAME header_coverage COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/layering/check_header_coverage.py
                                      ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR})

# Static libraries built from src/, found by walking the directory tree.
function(orrery_collect_libraries dir out)
  set(found ${${out}})
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(source_dir ${target} SOURCE_DIR)
    if(type STREQUAL "STATIC_LIBRARY" AND source_dir MATCHES "^${PROJECT_SOURCE_DIR}/src/")
      list(APPEND found ${target})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    orrery_collect_libraries(${sub} found)
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Whether the header's own .cpp is one of its owner's sources and has the header as its first line
# of code (comments and blank lines before it are fine; the release build compiles it alone).
function(orrery_compiled_first_by_its_source header relative owner out)
  set(${out} FALSE PARENT_SCOPE)
  string(REGEX REPLACE "\\.h$" ".cpp" source ${header})
  if(NOT EXISTS ${source})
    return()
  endif()
  get_target_property(owner_sources ${owner} SOURCES)
  get_target_property(owner_dir ${owner} SOURCE_DIR)
  set(owned FALSE)
  foreach(owned_source IN LISTS owner_sources)
    cmake_path(ABSOLUTE_PATH owned_source BASE_DIRECTORY ${owner_dir} NORMALIZE)
    if(owned_source STREQUAL source)
      set(owned TRUE)
      break()
    endif()
  endforeach()
  if(NOT owned)
    return()
  endif()
  file(STRINGS ${source} lines LIMIT_COUNT 40)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^//")
      continue()
    endif()
    if(line STREQUAL "#include \"${relative}\"")
      set(${out} TRUE PARENT_SCOPE)
    endif()
    return()
  endforeach()
endfunction()

set(libraries "")
orrery_collect_libraries(${PROJECT_SOURCE_DIR} libraries)
file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.h)
set(generated_root ${PROJECT_BINARY_DIR}/header_checks)
foreach(header IN LISTS headers)
  # The owner is the library whose folder is the longest prefix of the header's path.
  set(owner "")
  set(owner_length 0)
  foreach(library IN LISTS libraries)
    get_target_property(source_dir ${library} SOURCE_DIR)
    string(LENGTH "${source_dir}" length)
    string(FIND "${header}" "${source_dir}/" at)
    if(at EQUAL 0 AND length GREATER owner_length)
      set(owner ${library})
      set(owner_length ${length})
    endif()
  endforeach()
  if(owner STREQUAL "")
    continue()  # a folder not in this build
  endif()
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR}/src ${header})
  orrery_compiled_first_by_its_source(${header} ${relative} ${owner} first)
  if(first)
    continue()
  endif()
  string(MAKE_C_IDENTIFIER "${relative}" stem)
  set(generated ${generated_root}/${stem}.cpp)
  # Written only when it changes, so a new configure does not rebuild every check.
  file(CONFIGURE OUTPUT ${generated} CONTENT "#include \"${relative}\"\n" @ONLY)
  list(APPEND header_sources_${owner} ${generated})
endforeach()
foreach(library IN LISTS libraries)
  if(header_sources_${library})
    add_library(${library}_headers OBJECT ${header_sources_${library}})
    set_target_properties(${library}_headers PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF UNITY_BUILD OFF
                          DISABLE_PRECOMPILE_HEADERS ON
                          CXX_COMPILER_LAUNCHER "${PROJECT_SOURCE_DIR}/cmake/syntax_only.sh;${CMAKE_CXX_COMPILER_LAUNCHER}")
    target_link_libraries(${library}_headers PRIVATE ${library})
  endif()
endforeach()
