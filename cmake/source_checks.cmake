# Checks on the sources themselves, for the full build:
# - every header under src/ compiles on its own: one generated .cpp per header that includes only
#   it, built with the usage requirements of the folder library that owns the header, as part of
#   the normal build, so a header that leans on its includer's includes fails the build; they
#   are parsed only (cmake/syntax_only.sh), never precompiled or merged into unity files;
# - the layering test (tests/layering) refuses an include of a folder above the includer's own.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME layering COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/layering/check_layering.py
                               ${PROJECT_SOURCE_DIR}/src)
add_test(NAME layering_rules COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/layering/check_layering_test.py)

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
  string(MAKE_C_IDENTIFIER "${relative}" stem)
  set(generated ${generated_root}/${stem}.cpp)
  set(content "#include \"${relative}\"\n")
  if(EXISTS ${generated})
    file(READ ${generated} previous)
  endif()
  if(NOT previous STREQUAL content)
    file(WRITE ${generated} "${content}")
  endif()
  set(previous "")
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
