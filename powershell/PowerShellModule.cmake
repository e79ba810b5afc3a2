# Makes the PowerShell module Velmora in MODULE_DIR (cmake -P), and packs it
# into ZIP when that is given:
#   cmake -D FACTS=FILE -D MODULE_DIR=DIR [-D X64_STAGE=DIR -D X86_STAGE=DIR]
#         [-D HOMEPAGE=URL -D URL_BASE=URL] [-D ZIP=FILE] -P PowerShellModule.cmake
# or packs a module made before (and signed since) as it stands:
#   cmake -D FACTS=FILE -D MODULE_DIR=DIR -D ZIP=FILE -D PACK_ONLY=ON -P PowerShellModule.cmake
# The module is Velmora/'s files in one Velmora.psm1, with its manifest made
# from the release facts (the licence at URL_BASE, the project at HOMEPAGE, the
# facts' unless given), the version's CHANGELOG entry and the exported cmdlets,
# its help, and the two programs of each width's staged tree (X64_STAGE,
# X86_STAGE) in bin\x64 and bin\x86, with the DSC 3 resource's manifest beside
# the 64-bit VelmoraState.exe that it names. The archive holds the folder
# Velmora, every entry with the release's one time and fixed permissions, in a
# fixed order, so that the same commit packs to the same bytes.
include("${CMAKE_CURRENT_LIST_DIR}/../packaging/ReleaseScript.cmake")
velmora_needs(MODULE_DIR)

if(NOT PACK_ONLY)
    include("${SOURCE_DIR}/packaging/ReleaseTexts.cmake")
    velmora_release_notes("${SOURCE_DIR}/CHANGELOG.md" "${VERSION}" notes)
    string(REPLACE "'" "''" RELEASE_NOTES_PS "${notes}")
    set(LICENSE_URL "${URL_BASE}/LICENSE")

    set(module "${SOURCE_DIR}/powershell/Velmora")
    file(REMOVE_RECURSE "${MODULE_DIR}")
    file(MAKE_DIRECTORY "${MODULE_DIR}")

    # Velmora.psm1: the header, then the private helpers, the public cmdlets and the
    # DSC resource's class, each folder's files in name order. The exports are the
    # public files' names, written into the manifest.
    file(READ "${module}/Velmora.psm1.in" psm1)
    set(FUNCTIONS_TO_EXPORT "")
    set(DSC_RESOURCES_TO_EXPORT "")
    foreach(part IN ITEMS Private Public Classes)
        file(GLOB sources RELATIVE "${module}" "${module}/${part}/*.ps1")
        list(SORT sources)
        foreach(source IN LISTS sources)
            file(READ "${module}/${source}" text)
            string(APPEND psm1 "\n# --- ${source}\n\n${text}")
            get_filename_component(name "${source}" NAME_WE)
            if(part STREQUAL "Public")
                list(APPEND FUNCTIONS_TO_EXPORT "'${name}'")
            elseif(part STREQUAL "Classes")
                list(APPEND DSC_RESOURCES_TO_EXPORT "'${name}'")
            endif()
        endforeach()
    endforeach()
    list(JOIN FUNCTIONS_TO_EXPORT ", " FUNCTIONS_TO_EXPORT)
    list(JOIN DSC_RESOURCES_TO_EXPORT ", " DSC_RESOURCES_TO_EXPORT)
    file(WRITE "${MODULE_DIR}/Velmora.psm1" "${psm1}")
    configure_file("${module}/Velmora.psd1.in" "${MODULE_DIR}/Velmora.psd1" @ONLY)
    include("${SOURCE_DIR}/admin/AdminFiles.cmake")
    file(COPY "${module}/Velmora.Format.ps1xml" ${VELMORA_STARTUP_FILES} "${SOURCE_DIR}/LICENSE"
         DESTINATION "${MODULE_DIR}")
    file(COPY "${module}/en-US/about_Velmora.help.txt" DESTINATION "${MODULE_DIR}/en-US")
    foreach(arch IN ITEMS x64 x86)
        string(TOUPPER "${arch}_STAGE" variable)
        if(DEFINED ${variable})
            file(COPY "${${variable}}/Velmora.exe" "${${variable}}/VelmoraState.exe" DESTINATION "${MODULE_DIR}/bin/${arch}")
        endif()
    endforeach()
    # The DSC 3 resource's manifest, beside the 64-bit VelmoraState.exe that it names.
    if(DEFINED X64_STAGE)
        file(COPY "${X64_STAGE}/velmora.dsc.resource.json" DESTINATION "${MODULE_DIR}/bin/x64")
    endif()
endif()

if(DEFINED ZIP)
    velmora_zip("${MODULE_DIR}" "${ZIP}" TOP)
endif()
