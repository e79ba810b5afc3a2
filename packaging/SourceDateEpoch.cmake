# The one time of a release: every file in its archives carries it, and its
# manifests give its date. SOURCE_DATE_EPOCH where the caller sets it; otherwise
# the time of the commit checked out in CPACK_VELMORA_SOURCE_DIR. Read by cpack
# before it packs, and by ReleaseManifests.cmake. A zip entry's time is local
# time, so the time zone is fixed too: UTC.

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
