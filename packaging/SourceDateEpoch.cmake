# The one time of a release: every file in its archives carries it, and its
# manifests give its date. SOURCE_DATE_EPOCH where the caller sets it; otherwise
# the time of the commit checked out in CPACK_VELMORA_SOURCE_DIR. Read by cpack
# before it packs, and by the scripts that make the other packages
# (ReleaseManifests.cmake, ReleaseMsi.cmake, ReleaseChocolatey.cmake,
# PowerShellModule.cmake). A zip entry's time is local time, so the time zone is
# fixed too: UTC.

set(ENV{TZ} UTC)

if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C "${CPACK_VELMORA_SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
    if(status EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
        set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
    else()
        message(WARNING "No commit in ${CPACK_VELMORA_SOURCE_DIR} and no SOURCE_DATE_EPOCH: "
                        "the archive's entries carry the files' own times")
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
