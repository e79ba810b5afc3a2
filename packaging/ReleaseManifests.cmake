# Writes what a release publishes beside its archives and packages (cmake -P):
#   cmake -D FACTS=FILE -D RELEASE_DIR=DIR [-D HOMEPAGE=URL -D URL_BASE=URL]
#         -P ReleaseManifests.cmake
# RELEASE_DIR holds Velmora-VERSION-win32.zip, -win64.zip, -powershell.zip and
# -x64.msi, and velmora.VERSION.nupkg. URL_BASE is where they are published (it
# names the version), HOMEPAGE the project's home page, the facts' unless given.
# Every URL in the manifests is one of the two, or starts with one.
# Written: SHA256SUMS, LICENSE, CHANGELOG.md, RELEASE-NOTES.md (this version's
# entry of the changelog), scoop/velmora.json and the winget manifest set.
include("${CMAKE_CURRENT_LIST_DIR}/ReleaseScript.cmake")
velmora_needs(RELEASE_DIR)
set(source "${SOURCE_DIR}")
set(PUBLISHER "${VENDOR}")
set(LICENSE_URL "${URL_BASE}/LICENSE")
set(RELEASE_NOTES_URL "${URL_BASE}/CHANGELOG.md")
# Where the next release's archives will be, for Scoop's autoupdate.
string(REPLACE "${VERSION}" "$version" URL_BASE_TEMPLATE "${URL_BASE}")

# This version's entry of the changelog.
include("${CMAKE_CURRENT_LIST_DIR}/ReleaseTexts.cmake")
velmora_release_notes("${source}/CHANGELOG.md" "${VERSION}" notes RELEASE_DATE)
# The date the changelog gives the release; a trial of an undated entry takes
# the commit's (SOURCE_DATE_EPOCH).
if(RELEASE_DATE STREQUAL "")
    string(TIMESTAMP RELEASE_DATE "%Y-%m-%d" UTC)
endif()
file(WRITE "${RELEASE_DIR}/RELEASE-NOTES.md" "${notes}\n")
# As a YAML block scalar, each line indented.
string(REPLACE "\n" "\n  " RELEASE_NOTES_YAML "  ${notes}")
string(REGEX REPLACE "\n  \n" "\n\n" RELEASE_NOTES_YAML "${RELEASE_NOTES_YAML}")

# The two programs' archives, the PowerShell module's, the MSI and the
# Chocolatey package, each summed.
set(sums "")
foreach(arch IN ITEMS win32 win64 powershell msi nupkg)
    string(TOUPPER "${arch}" ARCH)
    set(archive "Velmora-${VERSION}-${arch}.zip")
    if(arch STREQUAL "msi")
        set(archive "Velmora-${VERSION}-x64.msi")
    elseif(arch STREQUAL "nupkg")
        set(archive "velmora.${VERSION}.nupkg")
    endif()
    if(NOT EXISTS "${RELEASE_DIR}/${archive}")
        message(FATAL_ERROR "${RELEASE_DIR}/${archive} is missing")
    endif()
    file(SHA256 "${RELEASE_DIR}/${archive}" SHA256_${ARCH})
    string(TOUPPER "${SHA256_${ARCH}}" SHA256_${ARCH}_UPPER)
    # The format of sha256sum: hash, two blanks, name.
    string(APPEND sums "${SHA256_${ARCH}}  ${archive}\n")
    set(URL_${ARCH} "${URL_BASE}/${archive}")
endforeach()
file(WRITE "${RELEASE_DIR}/SHA256SUMS" "${sums}")
# The MSI's own codes, for winget to tell an installed Velmora.
execute_process(COMMAND msiinfo export "${RELEASE_DIR}/Velmora-${VERSION}-x64.msi" Property
    OUTPUT_VARIABLE properties RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT properties MATCHES "\nProductCode\t({[0-9A-F-]+})")
    message(FATAL_ERROR "no ProductCode in the MSI")
endif()
set(PRODUCT_CODE "${CMAKE_MATCH_1}")
if(NOT properties MATCHES "\nUpgradeCode\t({[0-9A-Fa-f-]+})")
    message(FATAL_ERROR "no UpgradeCode in the MSI")
endif()
string(TOUPPER "${CMAKE_MATCH_1}" UPGRADE_CODE)
file(COPY "${source}/LICENSE" "${source}/CHANGELOG.md" DESTINATION "${RELEASE_DIR}"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(templates "${CMAKE_CURRENT_LIST_DIR}")
configure_file("${templates}/scoop/velmora.json.in" "${RELEASE_DIR}/scoop/velmora.json" @ONLY)
foreach(name IN ITEMS Velmora.Velmora Velmora.Velmora.locale.en-US Velmora.Velmora.installer)
    configure_file("${templates}/winget/${name}.yaml.in" "${RELEASE_DIR}/winget/${name}.yaml" @ONLY)
endforeach()

