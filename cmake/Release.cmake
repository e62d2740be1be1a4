# One release, one version: debian/changelog's newest entry names it, and the
# project's version and the AppStream metainfo's newest release must agree.
file(STRINGS "${PROJECT_SOURCE_DIR}/debian/changelog" LINEWATCH_CHANGELOG_TOP LIMIT_COUNT 1)
string(REGEX MATCH "^linewatch \\(([^)]+)\\)" _ "${LINEWATCH_CHANGELOG_TOP}")
set(LINEWATCH_RELEASE "${CMAKE_MATCH_1}")
file(STRINGS "${PROJECT_SOURCE_DIR}/data/io.linewatch.linewatch.metainfo.xml" LINEWATCH_METAINFO_RELEASE
    REGEX "<release version=" LIMIT_COUNT 1)
string(REGEX MATCH "version=\"([^\"]+)\"" _ "${LINEWATCH_METAINFO_RELEASE}")
if(NOT LINEWATCH_RELEASE STREQUAL PROJECT_VERSION OR NOT CMAKE_MATCH_1 STREQUAL LINEWATCH_RELEASE)
    message(FATAL_ERROR "Versions differ: debian/changelog ${LINEWATCH_RELEASE}, project ${PROJECT_VERSION}, "
        "metainfo ${CMAKE_MATCH_1}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${PROJECT_SOURCE_DIR}/debian/changelog" "${PROJECT_SOURCE_DIR}/data/io.linewatch.linewatch.metainfo.xml")
