# The Windows executables, Velmora.exe and VelmoraState.exe: the embedded
# manifest and version information, the system DLLs as their only imports, and
# the same bytes from every build folder.

enable_language(RC)

# "win32" or "win64": the name of the archive, and of the build in messages.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VELMORA_WINDOWS_ARCH win64)
else()
    set(VELMORA_WINDOWS_ARCH win32)
endif()

# The settings every Windows binary of the project is built with, the tool and
# the programs that tests and benchmarks set beside it alike: nothing to import
# but the system's DLLs, no link time stamp, no symbols and no build path, so
# that the same source gives the same bytes in any folder; and the same headers: subsystem version 6.0
# (Windows Vista and Server 2008, the first with the cache calls the tool is
# built on), terminal-server aware, and on x86 no exception handlers at all
# (NO_SEH: nothing in the program installs one). ASLR, high-entropy addresses
# (x64) and NX are the linker's defaults.
function(velmora_windows_binary target)
    if(MINGW)
        target_link_options(${target} PRIVATE
            -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp -s
            -Wl,--major-subsystem-version,6,--minor-subsystem-version,0 -Wl,--tsaware)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            target_link_options(${target} PRIVATE -Wl,--no-seh)
        endif()
        target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=")
    elseif(MSVC)
        set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
        # /Brepro drops the time stamps; a manifest comes from a resource script alone.
        target_compile_options(${target} PRIVATE /Brepro)
        target_link_options(${target} PRIVATE /MANIFEST:NO /Brepro /SUBSYSTEM:CONSOLE,6.00 /TSAWARE)
    endif()
endfunction()

# The version resource's texts, each from its one place: the version and the
# description from the project, the company from VELMORA_VENDOR, the copyright
# from LICENSE.
include(packaging/ReleaseTexts.cmake)
velmora_legal_copyright("${PROJECT_SOURCE_DIR}/LICENSE" VELMORA_LEGAL_COPYRIGHT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")
set(velmora_generated "${CMAKE_CURRENT_BINARY_DIR}/generated")
configure_file(res/VelmoraVersion.h.in "${velmora_generated}/VelmoraVersion.h" @ONLY)

foreach(program IN ITEMS Velmora VelmoraState)
    target_sources(${program} PRIVATE res/${program}.rc)
    # VelmoraState's resource script also takes its message table from the build.
    set_source_files_properties(res/${program}.rc PROPERTIES
        INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/res;${velmora_generated};${CMAKE_CURRENT_BINARY_DIR}/messages"
        OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/res/Velmora.manifest;${PROJECT_SOURCE_DIR}/res/VersionInfo.rc;${velmora_generated}/VelmoraVersion.h")
    target_link_libraries(${program} PRIVATE advapi32)
    velmora_windows_binary(${program})
endforeach()

include(packaging/ReleaseArchive.cmake)
