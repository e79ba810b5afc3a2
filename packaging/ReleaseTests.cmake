# The tests of how a Windows build is released: two release builds give the
# same program, the archive holds what it should, and (once, with the 64-bit
# build) the release script and the release check do what they say.
add_test(NAME release.reproducible
    COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/tests/test_release.sh" reproducible "${PROJECT_SOURCE_DIR}"
            "${VELMORA_WINDOWS_ARCH}")
add_test(NAME release.archive
    COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/tests/test_release.sh" archive "${CMAKE_BINARY_DIR}" "${PROJECT_VERSION}"
            "${VELMORA_WINDOWS_ARCH}")
set_tests_properties(release.reproducible PROPERTIES TIMEOUT 600)
if(VELMORA_WINDOWS_ARCH STREQUAL "win64")
    # The release script builds both archives, so one build tests it.
    add_test(NAME release.script
        COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/tests/test_release.sh" script "${PROJECT_SOURCE_DIR}"
                "${PROJECT_VERSION}" "${PROJECT_HOMEPAGE_URL}")
    set_tests_properties(release.script PROPERTIES TIMEOUT 900)
endif()
