# velmora_json(TARGET): the JSON library VelmoraState reads and writes with,
# nlohmann/json (header only), and the one exception setting of every target
# that uses it: off, so that the library's non-throwing API is the only one.
#
# On Windows with Visual Studio the library comes from vcpkg, as its CMake
# package. Elsewhere it is Debian's nlohmann-json3-dev, and only its own folder
# goes on the include path, through a link in the build folder: never
# /usr/include itself, whose glibc headers must stay out of a MinGW build.
include_guard(GLOBAL)

if(MSVC)
    find_package(nlohmann_json CONFIG REQUIRED)
else()
    find_path(VELMORA_JSON_ROOT nlohmann/json.hpp PATHS /usr/include /usr/local/include
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(velmora_json_include "${CMAKE_BINARY_DIR}/json-include")
    file(MAKE_DIRECTORY "${velmora_json_include}")
    file(CREATE_LINK "${VELMORA_JSON_ROOT}/nlohmann" "${velmora_json_include}/nlohmann" SYMBOLIC)
endif()

function(velmora_json target)
    if(MSVC)
        target_link_libraries(${target} PRIVATE nlohmann_json::nlohmann_json)
        target_compile_options(${target} PRIVATE /EHs-c-)
        target_compile_definitions(${target} PRIVATE _HAS_EXCEPTIONS=0 JSON_NOEXCEPTION)
    else()
        target_include_directories(${target} SYSTEM PRIVATE "${velmora_json_include}")
        target_compile_options(${target} PRIVATE -fno-exceptions)
        target_compile_definitions(${target} PRIVATE JSON_NOEXCEPTION)
    endif()
endfunction()

# velmora_json_headers(TARGET): the library alone, for a test program that keeps
# its own exception setting.
function(velmora_json_headers target)
    if(MSVC)
        target_link_libraries(${target} PRIVATE nlohmann_json::nlohmann_json)
    else()
        target_include_directories(${target} SYSTEM PRIVATE "${velmora_json_include}")
    endif()
endfunction()
