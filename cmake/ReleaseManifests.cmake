# Writes SHA256SUMS, the Scoop manifest and the winget manifest set of a release
# from its two archives (cmake -P):
#   cmake -D RELEASE_DIR=DIR -D CPACK_CONFIG=FILE [-D URL_BASE=URL] [-D COMMIT=ID]
#         -P ReleaseManifests.cmake
# RELEASE_DIR holds Velmora-VERSION-win32.zip and -win64.zip; CPACK_CONFIG is a
# build's CPackConfig.cmake, which gives the version, description, homepage and
# publisher; URL_BASE is where the archives are published (default:
# HOMEPAGE/releases/download/vVERSION); COMMIT, the commit they were built from.

include("${CPACK_CONFIG}")
set(VERSION "${CPACK_PACKAGE_VERSION}")
set(DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}")
set(HOMEPAGE "${CPACK_PACKAGE_HOMEPAGE_URL}")
set(PUBLISHER "${CPACK_PACKAGE_VENDOR}")
if(NOT URL_BASE)
    set(URL_BASE "${HOMEPAGE}/releases/download/v${VERSION}")
endif()
string(REGEX REPLACE "/+$" "" URL_BASE "${URL_BASE}")

set(sums "")

foreach(arch IN ITEMS win32 win64)
    string(TOUPPER "${arch}" ARCH)
    set(archive "Velmora-${VERSION}-${arch}.zip")
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

set(templates "${CMAKE_CURRENT_LIST_DIR}/../packaging")
configure_file("${templates}/scoop/velmora.json.in" "${RELEASE_DIR}/scoop/velmora.json" @ONLY)
foreach(name IN ITEMS Velmora.Velmora Velmora.Velmora.locale.en-US Velmora.Velmora.installer)
    configure_file("${templates}/winget/${name}.yaml.in" "${RELEASE_DIR}/winget/${name}.yaml" @ONLY)
endforeach()

message("Velmora ${VERSION} in ${RELEASE_DIR}, to be published at ${URL_BASE}")
if(COMMIT)
    message("Tag the commit it was built from: git tag -a v${VERSION} ${COMMIT} -m \"Velmora ${VERSION}\"")
endif()
