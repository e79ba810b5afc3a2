# Makes the PowerShell module Velmora in MODULE_DIR (cmake -P), and packs it
# into ZIP when that is given:
#   cmake -D SOURCE_DIR=DIR -D MODULE_DIR=DIR -D VERSION=V -D VENDOR=TEXT
#         -D DESCRIPTION=TEXT -D URL_BASE=URL -D HOMEPAGE=URL
#         [-D X64_EXE=FILE -D X86_EXE=FILE] [-D ZIP=FILE] -P PowerShellModule.cmake
# The module is powershell/Velmora with its manifest made from the version, the
# release's URLs (the licence at URL_BASE, the project at HOMEPAGE) and the
# version's CHANGELOG entry, and the two programs in bin\x64 and bin\x86. The
# archive holds the folder Velmora, every entry with the release's one time
# (SOURCE_DATE_EPOCH, by default the commit's) and fixed permissions, in a fixed
# order, so that the same commit packs to the same bytes.

foreach(name IN ITEMS SOURCE_DIR MODULE_DIR VERSION VENDOR DESCRIPTION URL_BASE HOMEPAGE)
    if(NOT DEFINED ${name})
        message(FATAL_ERROR "PowerShellModule.cmake needs -D ${name}=...")
    endif()
endforeach()

include("${CMAKE_CURRENT_LIST_DIR}/ReleaseTexts.cmake")
velmora_release_notes("${SOURCE_DIR}/CHANGELOG.md" "${VERSION}" notes)
string(REPLACE "'" "''" RELEASE_NOTES_PS "${notes}")
velmora_legal_copyright("${SOURCE_DIR}/LICENSE" COPYRIGHT)
set(LICENSE_URL "${URL_BASE}/LICENSE")

set(module "${SOURCE_DIR}/powershell/Velmora")
file(REMOVE_RECURSE "${MODULE_DIR}")
file(MAKE_DIRECTORY "${MODULE_DIR}")
configure_file("${module}/Velmora.psd1.in" "${MODULE_DIR}/Velmora.psd1" @ONLY)
file(COPY "${module}/Velmora.psm1" "${module}/Velmora.Format.ps1xml" "${module}/startup.cmd"
     "${SOURCE_DIR}/LICENSE" DESTINATION "${MODULE_DIR}")
set(files Velmora.Format.ps1xml Velmora.psd1 Velmora.psm1 LICENSE startup.cmd)
foreach(arch IN ITEMS x64 x86)
    string(TOUPPER "${arch}_EXE" variable)
    if(DEFINED ${variable})
        file(COPY "${${variable}}" DESTINATION "${MODULE_DIR}/bin/${arch}")
        list(APPEND files "bin/${arch}/Velmora.exe")
    endif()
endforeach()

if(DEFINED ZIP)
    set(CPACK_VELMORA_SOURCE_DIR "${SOURCE_DIR}")
    include("${CMAKE_CURRENT_LIST_DIR}/SourceDateEpoch.cmake")
    get_filename_component(parent "${MODULE_DIR}" DIRECTORY)
    get_filename_component(name "${MODULE_DIR}" NAME)
    set(entries "")
    foreach(file IN LISTS files)
        set(path "${MODULE_DIR}/${file}")
        if(file MATCHES "\\.exe$")
            file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
        else()
            file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        endif()
        execute_process(COMMAND touch -d "@$ENV{SOURCE_DATE_EPOCH}" "${path}" COMMAND_ERROR_IS_FATAL ANY)
        list(APPEND entries "${name}/${file}")
    endforeach()
    list(SORT entries)
    file(REMOVE "${ZIP}")
    # -X: no extra fields (owners, other times), -D: no folder entries. A zip
    # entry's time is local time: TZ is UTC (SourceDateEpoch.cmake).
    execute_process(COMMAND zip -X -D -q "${ZIP}" ${entries} WORKING_DIRECTORY "${parent}" COMMAND_ERROR_IS_FATAL ANY)
endif()
