# The manual page, linewatch(1): data/linewatch.1.in, with its table of error
# numbers taken from the README's, so that the two cannot say different things.
file(STRINGS "${PROJECT_SOURCE_DIR}/README.md" LINEWATCH_README_ROWS REGEX "^\\| 1[0-9][0-9][0-9] \\|")
set(LINEWATCH_ERROR_TABLE "")
foreach(row IN LISTS LINEWATCH_README_ROWS)
    # | number | meaning | example |
    string(REGEX MATCH "^\\| ([0-9]+) \\| ([^|]+) \\|" _ "${row}")
    set(number "${CMAKE_MATCH_1}")
    set(meaning "${CMAKE_MATCH_2}")
    string(STRIP "${meaning}" meaning)
    string(REPLACE "\\" "\\e" meaning "${meaning}")
    string(REPLACE "-" "\\-" meaning "${meaning}")
    string(REGEX REPLACE "`([^`]+)`" "\\\\fB\\1\\\\fR" meaning "${meaning}")
    string(APPEND LINEWATCH_ERROR_TABLE ".TP\n.B ${number}\n${meaning}.\n")
endforeach()
if(LINEWATCH_ERROR_TABLE STREQUAL "")
    message(FATAL_ERROR "README.md has no table of error numbers for the manual page")
endif()
string(STRIP "${LINEWATCH_ERROR_TABLE}" LINEWATCH_ERROR_TABLE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/README.md")

# The page's date: the release's, from debian/changelog.
file(STRINGS "${PROJECT_SOURCE_DIR}/debian/changelog" LINEWATCH_CHANGELOG_DATE REGEX "^ -- .*  " LIMIT_COUNT 1)
string(REGEX MATCH "[0-9]+ [A-Z][a-z]+ [0-9][0-9][0-9][0-9]" LINEWATCH_DATE "${LINEWATCH_CHANGELOG_DATE}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/debian/changelog")

configure_file("${PROJECT_SOURCE_DIR}/data/linewatch.1.in" "${PROJECT_BINARY_DIR}/linewatch.1" @ONLY)
