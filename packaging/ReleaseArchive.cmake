# The release archive of a Windows build: Velmora-<version>-win32.zip or
# -win64.zip with the two programs (Velmora.exe and VelmoraState.exe), the README
# and the licence, the administrator's scripts and the startup task's definition
# (admin/), and in the 64-bit one the DSC 3 resource's manifest beside
# VelmoraState.exe; nothing else. Every
# entry carries one time, SOURCE_DATE_EPOCH (by default the time of the commit
# checked out), so that the same commit packs to the same bytes.

install(TARGETS Velmora VelmoraState RUNTIME DESTINATION .)
# The administrator's files are packed from a copy in BUILD_DIR/admin, where a
# signed release signs the scripts among them before it packs.
include("${PROJECT_SOURCE_DIR}/admin/AdminFiles.cmake")
set(admin_files "")
foreach(file IN LISTS VELMORA_ADMIN_FILES)
    get_filename_component(name "${file}" NAME)
    configure_file("${file}" "${CMAKE_BINARY_DIR}/admin/${name}" COPYONLY)
    list(APPEND admin_files "${CMAKE_BINARY_DIR}/admin/${name}")
endforeach()
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE" ${admin_files} DESTINATION .)
if(VELMORA_WINDOWS_ARCH STREQUAL "win64")
    include("${PROJECT_SOURCE_DIR}/dsc/DscFiles.cmake")
    install(FILES "${VELMORA_DSC_MANIFEST}" DESTINATION .)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Velmora)
set(CPACK_PACKAGE_VENDOR "${VELMORA_VENDOR}")
set(CPACK_PACKAGE_FILE_NAME "Velmora-${PROJECT_VERSION}-${VELMORA_WINDOWS_ARCH}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
set(CPACK_VELMORA_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/SourceDateEpoch.cmake")
# What the build knows of the release, for the release scripts to read (sh):
# the version, the project's homepage, who makes it and what it does, and the
# archive cpack writes.
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/release.env" CONTENT [[
VERSION='@PROJECT_VERSION@'
HOMEPAGE='@PROJECT_HOMEPAGE_URL@'
VENDOR='@VELMORA_VENDOR@'
DESCRIPTION='@PROJECT_DESCRIPTION@'
ARCHIVE='@CPACK_PACKAGE_DIRECTORY@/@CPACK_PACKAGE_FILE_NAME@.zip'
]] @ONLY)

include(CPack)

