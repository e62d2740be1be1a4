# Runtime checkers for every target defined after this point, tests and
# benchmarks included: LINEWATCH_SANITIZE is a list such as
# "address;undefined" (make test-asan) or "thread" (make test-tsan).
# Qt and the system libraries are not instrumented; tests/sanitizers/ holds
# the suppressions for what that leaves behind.
set(LINEWATCH_SANITIZE "" CACHE STRING
    "Sanitizers to build with, e.g. address;undefined or thread (empty: none)")

if(LINEWATCH_SANITIZE)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        message(FATAL_ERROR "LINEWATCH_SANITIZE needs GCC or Clang")
    endif()
    list(JOIN LINEWATCH_SANITIZE "," linewatch_sanitizers)
    # Frame pointers for readable stacks; every finding stops the run, so a
    # report cannot scroll by in a test that still passes.
    add_compile_options(-fsanitize=${linewatch_sanitizers} -fno-omit-frame-pointer
        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${linewatch_sanitizers})
endif()
