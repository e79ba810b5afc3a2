# VELMORA_SANITIZE: every native target of the project built and linked with
# AddressSanitizer and UndefinedBehaviorSanitizer, stopping at the first error
# they find (the sim-asan preset).
include_guard(GLOBAL)

option(VELMORA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(VELMORA_SANITIZE)
    if(NOT (CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR CMAKE_CXX_COMPILER_ID MATCHES "Clang") OR CMAKE_CROSSCOMPILING)
        message(FATAL_ERROR "VELMORA_SANITIZE needs a native GCC or Clang build")
    endif()
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
