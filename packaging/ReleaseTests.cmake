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

    # The MSI and the Chocolatey package of this build, made as a release makes
    # them, for the tests and the README's deployment commands.
    include("${PROJECT_SOURCE_DIR}/dsc/DscFiles.cmake")
    include("${PROJECT_SOURCE_DIR}/admin/AdminFiles.cmake")
    # What the release archive holds, as this build's install rules put it.
    set(msi_files "${CMAKE_BINARY_DIR}/msi-files")
    set(msi_archive "${CMAKE_BINARY_DIR}/msi/Velmora-${PROJECT_VERSION}-win64.zip")
    set(VELMORA_MSI "${CMAKE_BINARY_DIR}/msi/Velmora-${PROJECT_VERSION}-x64.msi")
    set(VELMORA_NUPKG "${CMAKE_BINARY_DIR}/msi/velmora.${PROJECT_VERSION}.nupkg")
    set(release_texts -D "VERSION=${PROJECT_VERSION}" -D "VENDOR=${VELMORA_VENDOR}"
        -D "DESCRIPTION=${PROJECT_DESCRIPTION}" -D "HOMEPAGE=${PROJECT_HOMEPAGE_URL}")
    add_custom_command(OUTPUT "${VELMORA_MSI}" "${VELMORA_NUPKG}"
        COMMAND "${CMAKE_COMMAND}" -E rm -rf "${msi_files}"
        COMMAND "${CMAKE_COMMAND}" --install "${CMAKE_BINARY_DIR}" --prefix "${msi_files}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/msi"
        COMMAND "${CMAKE_COMMAND}" -E chdir "${msi_files}" "${CMAKE_COMMAND}" -E tar cf "${msi_archive}" --format=zip .
        COMMAND "${CMAKE_COMMAND}" -D "SOURCE_DIR=${PROJECT_SOURCE_DIR}" -D "ARCHIVE=${msi_archive}" ${release_texts}
                -D "MSI=${VELMORA_MSI}" -P "${CMAKE_CURRENT_LIST_DIR}/ReleaseMsi.cmake"
        COMMAND "${CMAKE_COMMAND}" -D "SOURCE_DIR=${PROJECT_SOURCE_DIR}" -D "MSI=${VELMORA_MSI}" ${release_texts}
                -D "URL_BASE=${PROJECT_HOMEPAGE_URL}/releases/download/v${PROJECT_VERSION}"
                -D "NUPKG=${VELMORA_NUPKG}" -P "${CMAKE_CURRENT_LIST_DIR}/ReleaseChocolatey.cmake"
        DEPENDS Velmora VelmoraState "${CMAKE_CURRENT_LIST_DIR}/ReleaseMsi.cmake" "${CMAKE_CURRENT_LIST_DIR}/ReleaseChocolatey.cmake"
                "${CMAKE_CURRENT_LIST_DIR}/msi/Velmora.wxs.in" "${CMAKE_CURRENT_LIST_DIR}/msi/Environment.idt"
                "${CMAKE_CURRENT_LIST_DIR}/msi/RemoveRegistry.idt" "${CMAKE_CURRENT_LIST_DIR}/msi/DrLocator.idt"
                "${CMAKE_CURRENT_LIST_DIR}/msi/CreateFolder.idt" "${CMAKE_CURRENT_LIST_DIR}/msi/MsiLockPermissionsEx.idt"
                ${VELMORA_ADMIN_FILES} "${VELMORA_EARLIER_STARTUP}" "${PROJECT_SOURCE_DIR}/README.md"
                "${VELMORA_DSC_MANIFEST}"
        COMMENT "Making the MSI and the Chocolatey package")
    add_custom_target(VelmoraPackages ALL DEPENDS "${VELMORA_MSI}" "${VELMORA_NUPKG}")

    # Installed, upgraded, downgraded and removed under Wine, in the prefix the
    # Wine tests share; one MSI test at a time, as Windows Installer allows.
    add_test(NAME msi.install-upgrade-remove
        COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/tests/test_msi.sh" "${PROJECT_SOURCE_DIR}" "${msi_archive}"
                "${PROJECT_VERSION}" "${wine_sh}")
    set_tests_properties(msi.install-upgrade-remove PROPERTIES
        ENVIRONMENT "WINEPREFIX=${wine_prefix}" FIXTURES_REQUIRED wine RESOURCE_LOCK windows-installer TIMEOUT 300)

    # The Chocolatey package: its layout and .nuspec, and its scripts run with
    # Chocolatey's helpers as test doubles.
    include("${PROJECT_SOURCE_DIR}/cmake/PesterTests.cmake")
    velmora_pester_test(chocolatey.package "${CMAKE_CURRENT_LIST_DIR}/tests/Chocolatey.Tests.ps1"
        "{\"Nupkg\": \"${VELMORA_NUPKG}\", \"Msi\": \"${VELMORA_MSI}\", \"Version\": \"${PROJECT_VERSION}\", \"Homepage\": \"${PROJECT_HOMEPAGE_URL}\"}"
        300)
endif()
