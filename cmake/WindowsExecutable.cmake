# What every Windows build compiles: resource scripts (the programs' manifest
# and version information, res/), and velmora_windows_binary(TARGET).
include_guard(GLOBAL)
enable_language(RC)

# velmora_windows_binary(TARGET): the settings every Windows binary of the project is built with, the tool and
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
