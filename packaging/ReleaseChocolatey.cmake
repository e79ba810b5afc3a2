# Makes Velmora's Chocolatey package, velmora.VERSION.nupkg (cmake -P):
#   cmake -D FACTS=FILE -D MSI=FILE -D NUPKG=FILE [-D HOMEPAGE=URL -D URL_BASE=URL]
#         -P ReleaseChocolatey.cmake
# An install package that carries the release's MSI and installs it silently:
# a zip in NuGet's package layout (the .nuspec, [Content_Types].xml, _rels/.rels
# and the core properties, each from its template in chocolatey/), made here
# without Chocolatey, whose fields dotnet pack would drop. Every entry carries
# the release's one time (SOURCE_DATE_EPOCH) in a fixed order, so that the same
# commit packs to the same bytes. HOMEPAGE and URL_BASE are the facts' unless
# given.
include("${CMAKE_CURRENT_LIST_DIR}/ReleaseScript.cmake")
velmora_needs(MSI NUPKG)

get_filename_component(MSI_NAME "${MSI}" NAME)
file(SHA256 "${MSI}" MSI_SHA256)
string(TOUPPER "${MSI_SHA256}" MSI_SHA256)

set(templates "${CMAKE_CURRENT_LIST_DIR}/chocolatey")
set(stage "${NUPKG}.parts")
file(REMOVE_RECURSE "${stage}")
file(MAKE_DIRECTORY "${stage}/tools" "${stage}/_rels" "${stage}/package/services/metadata/core-properties")
configure_file("${templates}/velmora.nuspec.in" "${stage}/velmora.nuspec" @ONLY)
foreach(script IN ITEMS chocolateyinstall.ps1 chocolateyuninstall.ps1 VERIFICATION.txt)
    configure_file("${templates}/tools/${script}.in" "${stage}/tools/${script}" @ONLY)
endforeach()
configure_file("${SOURCE_DIR}/LICENSE" "${stage}/tools/LICENSE.txt" COPYONLY)
configure_file("${MSI}" "${stage}/tools/${MSI_NAME}" COPYONLY)

# The parts of the package format that name the manifest and its properties.
string(UUID PROPERTIES_NAME NAMESPACE "${UPGRADE_CODE}" NAME "velmora ${VERSION}" TYPE SHA1)
string(REPLACE "-" "" PROPERTIES_NAME "${PROPERTIES_NAME}")
configure_file("${templates}/content-types.xml.in" "${stage}/[Content_Types].xml" @ONLY)
configure_file("${templates}/rels.xml.in" "${stage}/_rels/.rels" @ONLY)
configure_file("${templates}/core-properties.psmdcp.in"
    "${stage}/package/services/metadata/core-properties/${PROPERTIES_NAME}.psmdcp" @ONLY)

velmora_zip("${stage}" "${NUPKG}")
file(REMOVE_RECURSE "${stage}")
