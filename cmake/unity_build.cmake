# The checking builds (sanitizers, fuzz) merge 8 program or test sources into one unit, the
# release build 8 test sources. File-local names (anonymous namespaces, statics) must therefore
# differ between the sources of one folder: where two files need the same helper, it lives in a
# shared header; where they only share a name, one takes a name of its own. A file listed here
# compiles alone instead, each one costing a unit in every build.
set(ORRERY_UNITY_EXCLUDED)

# Merges the C++ sources of every target under `dir` into units of ORRERY_UNITY_BATCH_SIZE, in
# their order, leaving out the excluded ones, generated ones and ones with compile properties of
# their own. Only sources under the folders `roots` names (a regular expression, e.g. "src|tests")
# are merged. The units include their sources by paths relative to themselves, never absolute
# ones, so the compiler cache serves a clone of the checkout in another folder (CMake's own unity
# files name each source by its absolute path, which made every unit miss there).
set(ORRERY_UNITY_BATCH_SIZE 8)

function(orrery_write_unit file sources)
  get_filename_component(unit_dir ${file} DIRECTORY)
  set(content "// Sources merged for the checking builds (cmake/unity_build.cmake).\n")
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH relative ${unit_dir} ${source})
    string(APPEND content "#include \"${relative}\"\n")
  endforeach()
  file(CONFIGURE OUTPUT ${file} CONTENT "${content}" @ONLY)  # written only when it changes
endfunction()

function(orrery_merge_target_sources target roots)
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE|OBJECT_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY)$")
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  if(NOT sources)
    return()
  endif()
  get_target_property(source_dir ${target} SOURCE_DIR)
  get_target_property(binary_dir ${target} BINARY_DIR)
  set(kept "")
  set(batch "")
  set(units "")
  set(index 0)
  foreach(source IN LISTS sources)
    get_filename_component(path ${source} ABSOLUTE BASE_DIR ${source_dir})
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${path})
    set(own "")
    foreach(property COMPILE_DEFINITIONS COMPILE_OPTIONS COMPILE_FLAGS INCLUDE_DIRECTORIES)
      get_source_file_property(value ${path} DIRECTORY ${source_dir} ${property})
      if(value)
        set(own TRUE)
      endif()
    endforeach()
    string(FIND "${path}" "${PROJECT_BINARY_DIR}/" in_build)
    if(NOT path MATCHES "\\.cpp$" OR in_build EQUAL 0 OR NOT relative MATCHES "^(${roots})/"
       OR relative IN_LIST ORRERY_UNITY_EXCLUDED OR own)
      list(APPEND kept ${path})
      continue()
    endif()
    list(APPEND batch ${path})
    list(LENGTH batch length)
    if(length EQUAL ORRERY_UNITY_BATCH_SIZE)
      set(unit ${binary_dir}/merged/${target}_${index}.cpp)
      orrery_write_unit(${unit} "${batch}")
      list(APPEND units ${unit})
      math(EXPR index "${index} + 1")
      set(batch "")
    endif()
  endforeach()
  list(LENGTH batch length)
  if(length EQUAL 1)
    list(APPEND kept ${batch})
  elseif(length GREATER 1)
    set(unit ${binary_dir}/merged/${target}_${index}.cpp)
    orrery_write_unit(${unit} "${batch}")
    list(APPEND units ${unit})
  endif()
  if(units)
    set_property(TARGET ${target} PROPERTY SOURCES ${kept} ${units})
    # GCC takes a merged source for a header and warns of its anonymous-namespace test fixtures.
    set_source_files_properties(${units} TARGET_DIRECTORY ${target} PROPERTIES
                                COMPILE_OPTIONS "$<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>")
  endif()
endfunction()

# Merges the sources of every target under `dir`; run once all folders are added.
function(orrery_merge_sources dir roots)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    orrery_merge_target_sources(${target} "${roots}")
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    orrery_merge_sources(${sub} "${roots}")
  endforeach()
endfunction()
