# What a desktop needs besides the program: the desktop entry (whose name is the window's desktop
# file name and whose StartupWMClass is its class), the document type, the icons at the hicolor
# sizes and scalable, the AppStream metainfo and the manual page. Icons are rendered from the
# drawing by scripts/render-icons.sh and committed.
set(desktop_dir ${PROJECT_SOURCE_DIR}/data/desktop)
set(app_id org.orrery.Orrery)
install(FILES ${desktop_dir}/${app_id}.desktop DESTINATION share/applications)
install(FILES ${desktop_dir}/${app_id}.xml DESTINATION share/mime/packages)
foreach(size 16 22 24 32 48 64 128 256 512)
  install(FILES ${desktop_dir}/icons/${app_id}-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${app_id}.png)
endforeach()
install(FILES ${desktop_dir}/icons/${app_id}.svg DESTINATION share/icons/hicolor/scalable/apps)
configure_file(${desktop_dir}/${app_id}.metainfo.xml ${PROJECT_BINARY_DIR}/${app_id}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${app_id}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${desktop_dir}/orrery.1 DESTINATION share/man/man1)
