# One INTERFACE target carries the warning flags; each of our targets links it
# privately, so the flags never leak to Qt's or GoogleTest's headers' users.
add_library(linewatch_warnings INTERFACE)
target_compile_options(linewatch_warnings INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
        -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wconversion -Wsign-conversion
        # Designated initializers name what they set and leave the rest at
        # the members' defaults; GCC 12 still warns about the ones left out.
        -Wno-missing-field-initializers>
    $<$<CXX_COMPILER_ID:MSVC>:/W4 /permissive->)

option(LINEWATCH_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)
if(LINEWATCH_WARNINGS_AS_ERRORS)
    target_compile_options(linewatch_warnings INTERFACE
        $<$<CXX_COMPILER_ID:GNU,Clang>:-Werror>
        $<$<CXX_COMPILER_ID:MSVC>:/WX>)
endif()
