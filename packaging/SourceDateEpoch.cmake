# The one time of a release: every file in its archives carries it.
# SOURCE_DATE_EPOCH where the caller sets it; otherwise the time of the commit
# checked out in SOURCE_DIR (a release fact). Read by the scripts that pack
# (ReleaseArchive.cmake, ReleaseMsi.cmake, ReleaseChocolatey.cmake,
# ReleaseManifests.cmake, powershell/PowerShellModule.cmake), after the facts. A
# zip entry's time is local time, so the time zone is fixed too: UTC.
include_guard(GLOBAL)

set(ENV{TZ} UTC)

if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
    if(status EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
        set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
    else()
        message(WARNING "No commit in ${SOURCE_DIR} and no SOURCE_DATE_EPOCH: "
                        "the release's files carry their own times")
    endif()
endif()

# velmora_stamp(PATH): gives a file the release's one time and the permissions
# a release gives it, wherever it was made: rwxr-xr-x for a program (.exe),
# rw-r--r-- for anything else.
function(velmora_stamp path)
    if(path MATCHES "\\.exe$")
        file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
             WORLD_READ WORLD_EXECUTE)
    else()
        file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
    execute_process(COMMAND touch -d "@$ENV{SOURCE_DATE_EPOCH}" "${path}" COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# velmora_zip(FOLDER ZIP [TOP]): packs every file under FOLDER into ZIP, each
# with the release's one time and permissions, in name order, with no extra
# fields (owners, other times) and no folder entries, names as they are; with
# TOP, the entries are under FOLDER's own name. The same files pack to the same
# bytes.
function(velmora_zip folder zip)
    file(GLOB_RECURSE files RELATIVE "${folder}" "${folder}/*")
    if(NOT files)
        message(FATAL_ERROR "${folder} holds no file to pack into ${zip}")
    endif()
    foreach(file IN LISTS files)
        velmora_stamp("${folder}/${file}")
    endforeach()
    set(where "${folder}")
    if(ARGV2)
        get_filename_component(top "${folder}" NAME)
        get_filename_component(where "${folder}" DIRECTORY)
        list(TRANSFORM files PREPEND "${top}/")
    endif()
    list(SORT files)
    get_filename_component(zip_dir "${zip}" DIRECTORY)
    file(MAKE_DIRECTORY "${zip_dir}")
    file(REMOVE "${zip}")
    execute_process(COMMAND zip -X -D -nw -q "${zip}" ${files} WORKING_DIRECTORY "${where}" COMMAND_ERROR_IS_FATAL ANY)
endfunction()
