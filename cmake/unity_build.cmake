# The checking builds (sanitizers, fuzz) merge 8 sources into one unit. Sources whose file-local
# names clash with another source's in the same unit compile on their own; when a new clash
# breaks a checking build ("redefinition of ..." in Unity/unity_<n>_cxx.cxx), add one of the two
# files here or give the helper a distinct name.
set(ORRERY_UNITY_EXCLUDED
  src/crash/crk_internal_report.cpp
  src/crash/crk_package_report.cpp
  src/crash/crk_symbolication.cpp
  src/foundation/kit_image.cpp
  src/model/idea_proxy.cpp
  src/model/index_portable_image.cpp
  src/sdk/pinning/tel_pinned_certificates.cpp
  src/sdk/settings/tel_settings_onboarding_manager.cpp
  src/sdk/startup/tel_kit_registry.cpp
  tests/crash/crk_crash_reporting_controller_test.cpp
  tests/crash/crk_package_report_test.cpp
  tests/crash/crk_report_folders_test.cpp
  tests/crash/crk_symbolication_test.cpp
  tests/crash/crk_web_view_test.cpp
  tests/model/document_save_test.cpp
  tests/model/idea_merge_test.cpp
  tests/model/json_coder_test.cpp
  tests/model/opml_test.cpp
  tests/model/persistence_controller_test.cpp
  tests/model/workspace_facade_test.cpp
  tests/model/workspace_test.cpp
  tests/platform/cloud/local_folder_container_test.cpp
  tests/platform/cloud/presented_file_recheck_test.cpp
  tests/sdk/analytics/ana_kill_test.cpp
  tests/sdk/analytics/ana_stages_test.cpp
  tests/sdk/identity/tel_application_identifer_model_test.cpp
  tests/sdk/multipart/multipart_encoder_test.cpp
  tests/sdk/net/settings_onboarding_test.cpp
  tests/sdk/net/startup_configuration_test.cpp
  tests/sdk/net/telemetry_start_test.cpp
  tests/sdk/pinning/certificate_pinning_test.cpp
)

# Marks the excluded sources of every target under `dir`; run once all folders are added.
function(orrery_exclude_from_unity dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(sources ${target} SOURCES)
    if(NOT sources)
      continue()
    endif()
    get_target_property(source_dir ${target} SOURCE_DIR)
    foreach(source IN LISTS sources)
      get_filename_component(path ${source} ABSOLUTE BASE_DIR ${source_dir})
      file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${path})
      if(relative IN_LIST ORRERY_UNITY_EXCLUDED)
        set_source_files_properties(${path} DIRECTORY ${source_dir} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
      endif()
    endforeach()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    orrery_exclude_from_unity(${sub})
  endforeach()
endfunction()
