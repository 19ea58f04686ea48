# Run at install time (cmake/desktop_integration.cmake): the manual page names the installed
# program's folders, so it is made under the prefix of the install that puts it there (`make
# install`'s PREFIX, the package's /usr, a staging install's --prefix). Reads
# ORRERY_MANUAL_SOURCE, ORRERY_MANUAL_BUILD_DIR, ORRERY_MODULE_DIR, ORRERY_RELEASE_DATE and
# PROJECT_VERSION.
set(ORRERY_DATADIR "${CMAKE_INSTALL_PREFIX}/share")
set(ORRERY_MODULE_PATH "${CMAKE_INSTALL_PREFIX}/${ORRERY_MODULE_DIR}/orrery_web.so")
# A folder of its own per destination: a package and a staging install may run at once.
string(MD5 destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(made "${ORRERY_MANUAL_BUILD_DIR}/manual-${destination}")
configure_file("${ORRERY_MANUAL_SOURCE}" "${made}/orrery.1" @ONLY)
include(${CMAKE_CURRENT_LIST_DIR}/debian_gzip.cmake)
orrery_gzip("${made}/orrery.1" "${made}/orrery.1.gz")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/man/man1" TYPE FILE FILES "${made}/orrery.1.gz")
