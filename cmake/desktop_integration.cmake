# What a desktop needs besides the program: the desktop entry (whose name is the window's desktop
# file name and whose StartupWMClass is its class), the document type and its icon, the icons at
# the hicolor sizes and scalable, the AppStream metainfo, the manual page, and the copyright and
# changelog a Debian system keeps for every package. Icons are rendered from the drawing by
# scripts/render-icons.sh and committed.
set(desktop_dir ${PROJECT_SOURCE_DIR}/data/desktop)
set(app_id org.orrery.Orrery)
install(FILES ${desktop_dir}/${app_id}.desktop DESTINATION share/applications)
install(FILES ${desktop_dir}/${app_id}.xml DESTINATION share/mime/packages)
# A map's icon is the program's, under the name the document type gives it.
foreach(size 16 22 24 32 48 64 128 256 512)
  install(FILES ${desktop_dir}/icons/${app_id}-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${app_id}.png)
  install(FILES ${desktop_dir}/icons/${app_id}-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/mimetypes RENAME application-x-orrery.png)
endforeach()
install(FILES ${desktop_dir}/icons/${app_id}.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${desktop_dir}/icons/${app_id}.svg DESTINATION share/icons/hicolor/scalable/mimetypes
        RENAME application-x-orrery.svg)

# The changelog's first entry is this version's release: its date goes into the metainfo and the
# manual page, so neither can fall behind the version.
file(STRINGS ${desktop_dir}/changelog changelog_head LIMIT_COUNT 1)
file(STRINGS ${desktop_dir}/changelog changelog_dates REGEX "^ -- .*  [A-Z][a-z][a-z], [0-9]+ [A-Z][a-z][a-z] [0-9]+ ")
list(GET changelog_dates 0 changelog_date)
if(NOT changelog_head MATCHES "^orrery \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "data/desktop/changelog must begin with the entry of version ${PROJECT_VERSION}")
endif()
string(REGEX MATCH "([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9])" _ "${changelog_date}")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} release_month)
math(EXPR release_month "${release_month} + 1")
math(EXPR release_day "${CMAKE_MATCH_1}")
foreach(part release_month release_day)
  if(${part} LESS 10)
    set(${part} 0${${part}})
  endif()
endforeach()
set(ORRERY_RELEASE_DATE ${CMAKE_MATCH_3}-${release_month}-${release_day})

configure_file(${desktop_dir}/${app_id}.metainfo.xml ${PROJECT_BINARY_DIR}/${app_id}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${app_id}.metainfo.xml DESTINATION share/metainfo)

include(${CMAKE_CURRENT_LIST_DIR}/debian_gzip.cmake)
# The manual page names the installed program's folders: it is made when it is installed.
install(CODE "set(ORRERY_MANUAL_SOURCE \"${desktop_dir}/orrery.1\")
              set(ORRERY_MANUAL_BUILD_DIR \"${PROJECT_BINARY_DIR}/desktop\")
              set(ORRERY_MODULE_DIR \"${ORRERY_MODULE_DIR}\")
              set(ORRERY_RELEASE_DATE \"${ORRERY_RELEASE_DATE}\")
              set(PROJECT_VERSION \"${PROJECT_VERSION}\")")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/install_manual.cmake)
# A package without a Debian revision is native: its changelog is "changelog.gz".
configure_file(${desktop_dir}/changelog ${PROJECT_BINARY_DIR}/desktop/changelog COPYONLY)
orrery_gzip(${PROJECT_BINARY_DIR}/desktop/changelog ${PROJECT_BINARY_DIR}/desktop/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/desktop/changelog.gz ${desktop_dir}/copyright DESTINATION share/doc/orrery)
