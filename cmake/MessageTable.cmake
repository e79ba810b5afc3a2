# velmora_message_table(TARGET MC_FILE): the event messages of MC_FILE for
# TARGET. The message compiler (windmc from MinGW's binutils, or the Windows
# SDK's mc) makes the header of event IDs, which the target includes, and, on
# Windows, the message table resource, which the target's resource script
# includes as <name>.rc. The simulated system's build takes the header alone,
# from the same windmc.
include_guard(GLOBAL)

if(MSVC)
    # The Windows SDK's mc, which a Visual Studio build outside a developer
    # prompt does not have on its PATH: the newest SDK's first.
    set(program_files_x86 "ProgramFiles(x86)")
    file(GLOB sdk_bins LIST_DIRECTORIES true "$ENV{${program_files_x86}}/Windows Kits/10/bin/10.*/x64")
    list(SORT sdk_bins COMPARE NATURAL ORDER DESCENDING)
    find_program(VELMORA_MESSAGE_COMPILER NAMES mc HINTS ${CMAKE_MC_COMPILER} ${sdk_bins} REQUIRED)
else()
    find_program(VELMORA_MESSAGE_COMPILER NAMES x86_64-w64-mingw32-windmc i686-w64-mingw32-windmc windmc REQUIRED)
endif()

function(velmora_message_table target mc_file)
    get_filename_component(name "${mc_file}" NAME_WE)
    set(out "${CMAKE_CURRENT_BINARY_DIR}/messages")
    add_custom_command(OUTPUT "${out}/${name}.h" "${out}/${name}.rc" "${out}/MSG00409.bin"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${out}"
        COMMAND "${VELMORA_MESSAGE_COMPILER}" -h "${out}" -r "${out}" "${mc_file}"
        DEPENDS "${mc_file}"
        COMMENT "Compiling the event messages of ${name}.mc"
        VERBATIM)
    add_custom_target(${target}_messages DEPENDS "${out}/${name}.h" "${out}/${name}.rc" "${out}/MSG00409.bin")
    add_dependencies(${target} ${target}_messages)
    target_include_directories(${target} PRIVATE "${out}")
endfunction()
