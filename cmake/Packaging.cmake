# `make deb`: a Debian package whose dependencies are worked out by
# dpkg-shlibdeps from the Qt libraries the program links against.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME linewatch)
set(CPACK_PACKAGE_VENDOR "The linewatch developers")
set(CPACK_PACKAGE_CONTACT "The linewatch developers <linewatch@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Watches a serial line and shows every character a device sends")
set(CPACK_PACKAGE_DESCRIPTION "linewatch watches serial port 1 at 9600 baud and shows, in its only
window, every character that arrives, exactly as the device sent it. It never
transmits and stores nothing.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY linewatch)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/LICENSE")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
