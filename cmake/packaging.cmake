# `make package`: a Debian package of what `make install` installs under /usr, its library
# dependencies found by dpkg-shlibdeps (dpkg-dev). The program is installed stripped.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orrery)
set(CPACK_PACKAGE_VENDOR "Orrery")
set(CPACK_PACKAGE_CONTACT "Orrery developers <orrery@orrery.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mind maps as planets orbiting their central idea")
set(CPACK_PACKAGE_DESCRIPTION "Orrery draws a mind map as a solar system: the central idea is the sun
and its ideas orbit it. Maps are kept as files or in a Dropbox app folder
and export as an outline, OPML, a web page, a picture or a PDF.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Files root:root, directories 0755, files 0644 and the program 0755, whatever the build tree's
# umask; nothing runs at install or removal: the only library is private (no ldconfig) and the
# desktop, MIME and icon caches are refreshed by the triggers their packages own.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
# The mapped fonts and the emoji face are read by name at run time, not linked; so is libcurl,
# which the program opens when it first transfers (7.85 for the protocol lists it sets).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 (>= 7.85.0), fonts-dejavu-core, fonts-liberation2, fonts-noto-color-emoji")
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-image-formats-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
