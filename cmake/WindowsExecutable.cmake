# The Windows executable: the embedded manifest and version information, the
# system DLLs as its only imports, and the same bytes from every build folder.

enable_language(RC)

set(velmora_generated "${CMAKE_CURRENT_BINARY_DIR}/generated")
configure_file(res/VelmoraVersion.h.in "${velmora_generated}/VelmoraVersion.h" @ONLY)

target_sources(Velmora PRIVATE res/Velmora.rc)
set_source_files_properties(res/Velmora.rc PROPERTIES
    INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/res;${velmora_generated}"
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/res/Velmora.manifest;${velmora_generated}/VelmoraVersion.h")

target_link_libraries(Velmora PRIVATE advapi32)

if(MINGW)
    target_link_options(Velmora PRIVATE
        # Nothing but KERNEL32, ADVAPI32 and the system C runtime to import.
        -static-libgcc -static-libstdc++
        # No link time stamp, no symbols: the same source gives the same bytes.
        -Wl,--no-insert-timestamp -s)
    target_compile_options(Velmora PRIVATE -fno-exceptions -fno-rtti)
elseif(MSVC)
    set_property(TARGET Velmora PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    # The manifest comes from Velmora.rc alone; /Brepro drops the time stamps.
    target_compile_options(Velmora PRIVATE /Brepro)
    target_link_options(Velmora PRIVATE /MANIFEST:NO /Brepro)
endif()

# The release archive: Velmora-<version>-win32.zip with the program, its README
# and its licence, nothing else.
install(TARGETS Velmora RUNTIME DESTINATION .)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_FILE_NAME "Velmora-${PROJECT_VERSION}-win32")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
include(CPack)
