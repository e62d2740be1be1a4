# What `cmake --install` puts where: the program, its manual page, desktop
# entry, icon and AppStream metainfo, in the places desktops look for them.
include(GNUInstallDirs)

set(LINEWATCH_APP_ID io.linewatch.linewatch)

install(TARGETS linewatch RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "data/${LINEWATCH_APP_ID}.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "data/${LINEWATCH_APP_ID}.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "data/${LINEWATCH_APP_ID}.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${PROJECT_BINARY_DIR}/linewatch.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
