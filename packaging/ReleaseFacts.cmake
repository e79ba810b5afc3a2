# Velmora's release facts, each taken from its one home when the build is
# configured, and written to <build>/release-facts.cmake for the packaging
# scripts (cmake -D FACTS=... -P); a Windows build also gives the release
# scripts (sh) those they need in <build>/release.env (packaging/CMakeLists.txt).
# They are:
#   VERSION, DESCRIPTION, HOMEPAGE   project() in CMakeLists.txt
#   VENDOR                           VELMORA_VENDOR in CMakeLists.txt
#   COPYRIGHT                        LICENSE's copyright line and licence name
#   COPYRIGHT_LINE                   LICENSE's copyright line alone
#   UPGRADE_CODE                     the MSI's, for the product's whole life (here)
#   RELEASE_PATH                     where under HOMEPAGE a release's files are
#                                    published (releases/download/vVERSION); a
#                                    release may name another place altogether
#   SIGNED                           the files of a staged tree that a signed
#                                    release signs: both programs and the
#                                    administrator's scripts (admin/AdminFiles.cmake)
#   MODULE_SIGNED                    the module's files that it signs
#   SOURCE_DIR                       the source tree
include_guard(GLOBAL)
include("${PROJECT_SOURCE_DIR}/admin/AdminFiles.cmake")

# The version's one home is project() in CMakeLists.txt: the changelog's newest
# entry is this version's.
file(STRINGS "${PROJECT_SOURCE_DIR}/CHANGELOG.md" newest REGEX "^## \\[[0-9]+\\.[0-9]+\\.[0-9]+\\]" LIMIT_COUNT 1)
if(NOT newest MATCHES "^## \\[${PROJECT_VERSION}\\]")
    message(FATAL_ERROR "CHANGELOG.md's newest entry is \"${newest}\", not the project's version ${PROJECT_VERSION}: "
                        "give the version an entry, or set project(VERSION) to the changelog's")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/CHANGELOG.md")

# The product's own for its whole life: never change it.
set(VELMORA_UPGRADE_CODE "2D264B0A-CF20-4DB2-B414-70CEF38B7757")
file(STRINGS "${PROJECT_SOURCE_DIR}/LICENSE" copyright REGEX "^Copyright " LIMIT_COUNT 1)
file(STRINGS "${PROJECT_SOURCE_DIR}/LICENSE" licence LIMIT_COUNT 1)
# "Copyright (c) YEAR HOLDER. MIT License.", as the version resource, the module
# manifest and the Chocolatey package carry it.
set(VELMORA_LEGAL_COPYRIGHT "${copyright}. ${licence}.")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")

set(VELMORA_SIGNED Velmora.exe VelmoraState.exe)
foreach(script IN LISTS VELMORA_ADMIN_SCRIPTS)
    get_filename_component(name "${script}" NAME)
    list(APPEND VELMORA_SIGNED "${name}")
endforeach()

# The module's script, manifest and view, which PowerShell checks under AllSigned.
set(VELMORA_MODULE_SIGNED Velmora.psm1 Velmora.psd1 Velmora.Format.ps1xml)
set(VELMORA_RELEASE_PATH "releases/download/v${PROJECT_VERSION}")
set(VELMORA_RELEASE_FACTS "${CMAKE_BINARY_DIR}/release-facts.cmake")
file(CONFIGURE OUTPUT "${VELMORA_RELEASE_FACTS}" CONTENT [[
# Velmora's release facts, written by packaging/ReleaseFacts.cmake.
set(VERSION [==[@PROJECT_VERSION@]==])
set(DESCRIPTION [==[@PROJECT_DESCRIPTION@]==])
set(VENDOR [==[@VELMORA_VENDOR@]==])
set(COPYRIGHT [==[@VELMORA_LEGAL_COPYRIGHT@]==])
set(COPYRIGHT_LINE [==[@copyright@]==])
set(UPGRADE_CODE [==[@VELMORA_UPGRADE_CODE@]==])
set(RELEASE_PATH [==[@VELMORA_RELEASE_PATH@]==])
set(SIGNED @VELMORA_SIGNED@)
set(MODULE_SIGNED @VELMORA_MODULE_SIGNED@)
set(SOURCE_DIR [==[@PROJECT_SOURCE_DIR@]==])
# A release may publish elsewhere: HOMEPAGE and URL_BASE given to a script win.
if(NOT DEFINED HOMEPAGE)
    set(HOMEPAGE [==[@PROJECT_HOMEPAGE_URL@]==])
endif()
if(NOT DEFINED URL_BASE)
    set(URL_BASE "${HOMEPAGE}/${RELEASE_PATH}")
endif()
]] @ONLY)
