# Makes Velmora's Chocolatey package, velmora.VERSION.nupkg (cmake -P):
#   cmake -D SOURCE_DIR=DIR -D MSI=FILE -D VERSION=V -D VENDOR=TEXT -D DESCRIPTION=TEXT
#         -D HOMEPAGE=URL -D URL_BASE=URL -D NUPKG=FILE -P ReleaseChocolatey.cmake
# An install package that carries the release's MSI and installs it silently:
# a zip in NuGet's package layout (the .nuspec, [Content_Types].xml, _rels/.rels
# and the core properties), made here without Chocolatey, whose fields dotnet
# pack would drop. Every entry carries the release's one time
# (SOURCE_DATE_EPOCH) in a fixed order, so that the same commit packs to the
# same bytes.

foreach(name IN ITEMS SOURCE_DIR MSI VERSION VENDOR DESCRIPTION HOMEPAGE URL_BASE NUPKG)
    if(NOT DEFINED ${name})
        message(FATAL_ERROR "ReleaseChocolatey.cmake needs -D ${name}=...")
    endif()
endforeach()
set(CPACK_VELMORA_SOURCE_DIR "${SOURCE_DIR}")
include("${CMAKE_CURRENT_LIST_DIR}/SourceDateEpoch.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/ReleaseTexts.cmake")
velmora_legal_copyright("${SOURCE_DIR}/LICENSE" COPYRIGHT)

get_filename_component(MSI_NAME "${MSI}" NAME)
file(SHA256 "${MSI}" MSI_SHA256)
string(TOUPPER "${MSI_SHA256}" MSI_SHA256)
# Uninstalling removes every product of the MSI's UpgradeCode, whichever
# version another channel may have put there since.
execute_process(COMMAND msiinfo export "${MSI}" Property OUTPUT_VARIABLE properties RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT properties MATCHES "\nUpgradeCode\t({[0-9A-Fa-f-]+})")
    message(FATAL_ERROR "no UpgradeCode in ${MSI}")
endif()
string(TOUPPER "${CMAKE_MATCH_1}" UPGRADE_CODE)

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
string(UUID properties_name NAMESPACE "2D264B0A-CF20-4DB2-B414-70CEF38B7757" NAME "velmora ${VERSION}" TYPE SHA1)
string(REPLACE "-" "" properties_name "${properties_name}")
file(WRITE "${stage}/[Content_Types].xml" "<?xml version=\"1.0\" encoding=\"utf-8\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\" /><Default Extension=\"nuspec\" ContentType=\"application/octet\" /><Default Extension=\"ps1\" ContentType=\"application/octet\" /><Default Extension=\"msi\" ContentType=\"application/octet\" /><Default Extension=\"txt\" ContentType=\"application/octet\" /><Default Extension=\"psmdcp\" ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\" /></Types>")
file(WRITE "${stage}/_rels/.rels" "<?xml version=\"1.0\" encoding=\"utf-8\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Type=\"http://schemas.microsoft.com/packaging/2010/07/manifest\" Target=\"/velmora.nuspec\" Id=\"R1\" /><Relationship Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties\" Target=\"/package/services/metadata/core-properties/${properties_name}.psmdcp\" Id=\"R2\" /></Relationships>")
file(WRITE "${stage}/package/services/metadata/core-properties/${properties_name}.psmdcp" "<?xml version=\"1.0\" encoding=\"utf-8\"?><coreProperties xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\"><dc:creator>${VENDOR}</dc:creator><dc:description>${DESCRIPTION}</dc:description><dc:identifier>velmora</dc:identifier><version>${VERSION}</version><keywords>velmora file-cache system-cache memory server admin cli</keywords><lastModifiedBy>Velmora release</lastModifiedBy></coreProperties>")

file(GLOB_RECURSE entries RELATIVE "${stage}" "${stage}/*")
list(SORT entries)
foreach(entry IN LISTS entries)
    velmora_stamp("${stage}/${entry}")
endforeach()
file(REMOVE "${NUPKG}")
# -X: no extra fields, -D: no folder entries, -nw: names as they are ([Content_Types].xml).
execute_process(COMMAND zip -X -D -nw -q "${NUPKG}" ${entries} WORKING_DIRECTORY "${stage}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${stage}")
