# The Windows executable: the embedded manifest and version information, the
# system DLLs as its only imports, and the same bytes from every build folder.

enable_language(RC)

# "win32" or "win64": the name of the archive, and of the build in messages.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VELMORA_WINDOWS_ARCH win64)
else()
    set(VELMORA_WINDOWS_ARCH win32)
endif()

# The settings every Windows binary of the project is built with, the tool and
# the programs that tests and benchmarks set beside it alike: nothing to import
# but the system's DLLs, no link time stamp and no symbols, so that the same
# source gives the same bytes.
function(velmora_windows_binary target)
    if(MINGW)
        target_link_options(${target} PRIVATE
            -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp -s)
        target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    elseif(MSVC)
        set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
        # /Brepro drops the time stamps; a manifest comes from a resource script alone.
        target_compile_options(${target} PRIVATE /Brepro)
        target_link_options(${target} PRIVATE /MANIFEST:NO /Brepro)
    endif()
endfunction()

set(velmora_generated "${CMAKE_CURRENT_BINARY_DIR}/generated")
configure_file(res/VelmoraVersion.h.in "${velmora_generated}/VelmoraVersion.h" @ONLY)

target_sources(Velmora PRIVATE res/Velmora.rc)
set_source_files_properties(res/Velmora.rc PROPERTIES
    INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/res;${velmora_generated}"
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/res/Velmora.manifest;${velmora_generated}/VelmoraVersion.h")

target_link_libraries(Velmora PRIVATE advapi32)
velmora_windows_binary(Velmora)

# The release archive: Velmora-<version>-win32.zip or -win64.zip with the
# program, its README and its licence, nothing else.
install(TARGETS Velmora RUNTIME DESTINATION .)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_FILE_NAME "Velmora-${PROJECT_VERSION}-${VELMORA_WINDOWS_ARCH}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
include(CPack)
