# The warnings every target of the project is built with, the tool, the
# simulated system, the test programs and CACHESIM.dll alike: all of them, as
# errors.
include_guard(GLOBAL)

function(velmora_warnings target)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    elseif(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX)
        target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
    endif()
endfunction()
