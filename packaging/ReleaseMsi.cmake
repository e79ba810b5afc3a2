# Makes Velmora's per-machine Windows Installer package (cmake -P):
#   cmake -D FACTS=FILE -D STAGE=DIR -D MSI=FILE [-D HOMEPAGE=URL] -P ReleaseMsi.cmake
# STAGE is the 64-bit build's staged tree, as the release packs it (its programs
# and scripts signed, where the release signs them): the package installs each
# file of it into %ProgramFiles%\Velmora, or the folder INSTALLDIR names, and
# startup.cmd for earlier tasks, which the MSI alone carries
# (admin/AdminFiles.cmake). Each file is a component of its own, named by the
# file, with the component GUID that wixl derives from its path; msi/Velmora.wxs.in
# holds the rest. Debian's wixl builds it, and has no words for some of it: the
# rows that put the folder on the system PATH (msi/Environment.idt, naming the
# component Velmora.exe and the folder INSTALLDIR), the standard actions that
# apply them, and the others below, are added to the built package with
# msibuild. So is the summary information, which wixl fills with the time of the
# build and a random package code: here, the release's one time
# (SOURCE_DATE_EPOCH) and a package code derived from the whole database, whose
# cabinet holds the files with that time too, so that the same commit builds the
# same bytes. HOMEPAGE, for Programs and Features, is the facts' unless given.
include("${CMAKE_CURRENT_LIST_DIR}/ReleaseScript.cmake")
velmora_needs(STAGE MSI)
velmora_staged("${STAGE}")
include("${SOURCE_DIR}/admin/AdminFiles.cmake")
string(UUID PRODUCT_CODE NAMESPACE "${UPGRADE_CODE}" NAME "Velmora ${VERSION} x64" TYPE SHA1 UPPER)

set(work "${MSI}.parts")
file(REMOVE_RECURSE "${work}")
file(COPY "${STAGE}/" DESTINATION "${work}/files")
configure_file("${VELMORA_EARLIER_STARTUP}" "${work}/files/startup.cmd" COPYONLY)
file(GLOB packed RELATIVE "${work}/files" "${work}/files/*")
list(SORT packed)
# One component a file, each file with the release's one time, which the
# cabinet keeps.
set(FILE_COMPONENTS "")
set(COMPONENT_REFS "")
foreach(file IN LISTS packed)
    velmora_stamp("${work}/files/${file}")
    string(APPEND FILE_COMPONENTS "          <Component Id=\"${file}\" Guid=\"*\" Win64=\"yes\">\n"
        "            <File Id=\"${file}\" Name=\"${file}\" Source=\"${file}\" KeyPath=\"yes\"/>\n"
        "          </Component>\n")
    string(APPEND COMPONENT_REFS "      <ComponentRef Id=\"${file}\"/>\n")
endforeach()
configure_file("${CMAKE_CURRENT_LIST_DIR}/msi/Velmora.wxs.in" "${work}/Velmora.wxs" @ONLY)
set(built "${work}/Velmora.msi")
# wixl finds the files by their names, in the folder it runs in.
execute_process(COMMAND wixl -a x64 -o "${built}" "${work}/Velmora.wxs" WORKING_DIRECTORY "${work}/files"
    RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT EXISTS "${built}")
    message(FATAL_ERROR "wixl failed: ${errors}")
endif()

# velmora_msibuild(-i TABLE.idt | -q QUERY): msibuild on the package, importing
# a table or running an SQL change, or fail.
function(velmora_msibuild option value)
    execute_process(COMMAND msibuild "${built}" ${option} "${value}" RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "msibuild ${option} \"${value}\" failed: ${errors}")
    endif()
endfunction()

velmora_msibuild(-i "${CMAKE_CURRENT_LIST_DIR}/msi/Environment.idt")
# The event source's key as an earlier eventcreate made it goes before the
# package writes its own (msi/RemoveRegistry.idt).
velmora_msibuild(-i "${CMAKE_CURRENT_LIST_DIR}/msi/RemoveRegistry.idt")
# Where a Velmora.exe that no package installed may be: %ProgramFiles%\Velmora,
# which an archive may have filled (msi/DrLocator.idt; the search below).
velmora_msibuild(-i "${CMAKE_CURRENT_LIST_DIR}/msi/DrLocator.idt")
# A folder given outside Program Files gets Program Files' permissions, so that
# no user can change what the startup task runs as SYSTEM: SYSTEM and
# Administrators full control, Users read and run, nothing inherited from above
# (msi/MsiLockPermissionsEx.idt, on the folder that msi/CreateFolder.idt names).
# Under Program Files the folder inherits that folder's own.
velmora_msibuild(-i "${CMAKE_CURRENT_LIST_DIR}/msi/CreateFolder.idt")
velmora_msibuild(-i "${CMAKE_CURRENT_LIST_DIR}/msi/MsiLockPermissionsEx.idt")
# velmora_file_version(FILE VERSION LANGUAGE): the file version and language of
# FILE's version resource, as Windows Installer compares them (1.0.0.0, 1033),
# read from its VS_FIXEDFILEINFO and its translation; empty where it has none.
function(velmora_file_version file version_var language_var)
    file(READ "${file}" hex HEX)
    set(${version_var} "" PARENT_SCOPE)
    set(${language_var} "" PARENT_SCOPE)
    # The signature 0xFEEF04BD, then the structure's version, then the file
    # version's high and low DWORDs, each little-endian.
    string(FIND "${hex}" "bd04effe" at)
    if(at EQUAL -1 OR NOT at MATCHES "[02468]$")
        return()
    endif()
    set(words "")
    foreach(offset IN ITEMS 16 24)
        math(EXPR start "${at} + ${offset}")
        string(SUBSTRING "${hex}" ${start} 8 dword)
        foreach(half IN ITEMS 4 0)
            string(SUBSTRING "${dword}" ${half} 4 word)
            string(SUBSTRING "${word}" 2 2 high)
            string(SUBSTRING "${word}" 0 2 low)
            math(EXPR number "0x${high}${low}")
            list(APPEND words ${number})
        endforeach()
    endforeach()
    list(JOIN words "." version)
    set(${version_var} "${version}" PARENT_SCOPE)
    # "Translation" in UTF-16 with its terminator, padded to a DWORD: the language first.
    string(FIND "${hex}" "5400720061006e0073006c006100740069006f006e000000" key)
    if(NOT key EQUAL -1)
        math(EXPR value "(${key} + 48 + 7) / 8 * 8")
        string(SUBSTRING "${hex}" ${value} 4 word)
        string(SUBSTRING "${word}" 2 2 high)
        string(SUBSTRING "${word}" 0 2 low)
        math(EXPR language "0x${high}${low}")
        set(${language_var} "${language}" PARENT_SCOPE)
    endif()
endfunction()

# Each file with a version resource: its version and language in the File
# table, and no hash row (Windows Installer keeps hashes for unversioned files
# alone), so that it replaces an older copy by the file-version rule.
foreach(file IN LISTS packed)
    velmora_file_version("${work}/files/${file}" file_version file_language)
    if(file_version)
        velmora_msibuild(-q "UPDATE `File` SET `Version` = '${file_version}', `Language` = '${file_language}' WHERE `File` = '${file}'")
        velmora_msibuild(-q "DELETE FROM `MsiFileHash` WHERE `File_` = '${file}'")
    endif()
endforeach()

# The startup task's name, from the module that registers it.
file(STRINGS "${SOURCE_DIR}/powershell/Velmora/Private/Windows.ps1" task_line REGEX "^\\$script:TaskName = '[^']+'$")
string(REGEX REPLACE "^\\$script:TaskName = '([^']+)'$" "\\1" task_name "${task_line}")
if(NOT task_name)
    message(FATAL_ERROR "no $script:TaskName in powershell/Velmora/Private/Windows.ps1")
endif()

# What wixl has no words for, or writes otherwise. startup.cmd's component: 64-bit (256), and never
# overwritten (128), so that a script an earlier task runs keeps its sizes. The
# event source: its message file as REG_EXPAND_SZ ("#%"), and
# its whole key removed with the package (a row named "-" with no value).
set(event_source "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Velmora")
foreach(query IN ITEMS
        "UPDATE `Component` SET `Attributes` = 384 WHERE `Component` = 'startup.cmd'"
        "UPDATE `Registry` SET `Value` = '#%[INSTALLDIR]VelmoraState.exe' WHERE `Name` = 'EventMessageFile'"
        "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('EventSourceKey', 2, '${event_source}', '-', 'EventSource')"
        # For every user or not at all: a per-user install would put a folder its
        # user can write on the machine's PATH.
        "INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('ALLUSERS=1 AND NOT MSIINSTALLPERUSER=1', 'Velmora installs for every user of this computer: run the package without ALLUSERS=2, ALLUSERS=\"\" or MSIINSTALLPERUSER=1, as an administrator.')"
        # The feature as the wxs writes it: never advertised (8), never absent (16).
        "UPDATE `Feature` SET `Attributes` = 24 WHERE `Feature` = 'Velmora'"
        # Programs and Features shows where it is installed: ARPINSTALLLOCATION
        # from INSTALLDIR once costing has settled it.
        "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetInstallLocation', 51, 'ARPINSTALLLOCATION', '[INSTALLDIR]')"
        "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('SetInstallLocation', 1001)"
        # One owner for the folder: a Velmora.exe there that no Velmora package
        # installed (an archive's) refuses the install, unless this upgrades or
        # repairs a package that owns the folder. (wixl sequences AppSearch, for
        # the wxs's search of the remembered INSTALLDIR.)
        "INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('UnownedVelmora', 'Velmora.exe')"
        "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('UNOWNEDVELMORA', 'UnownedVelmora')"
        "INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('NOT UNOWNEDVELMORA OR Installed OR WIX_UPGRADE_DETECTED', '[ProgramFiles64Folder]Velmora holds a Velmora.exe that no Velmora package installed, as an archive unpacked there leaves it: remove that copy (Velmora.exe and VelmoraState.exe in it), then install this package, which then owns the folder.')"
        # Removed, not upgraded: the startup task goes too, since the program it
        # runs does. schtasks runs as SYSTEM in the script (34, in script 1024,
        # not impersonated 2048), and its failure, as where there is no task, is
        # ignored (64).
        "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RemoveStartupTask', 3170, 'TARGETDIR', '\"[System64Folder]schtasks.exe\" /Delete /TN \"${task_name}\" /F')"
        "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RemoveStartupTask', 'REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE', 1600)")
    velmora_msibuild(-q "${query}")
endforeach()
# The standard actions that apply the environment and the created folder's rows
# (wixl sequences neither), at their standard places in the sequence.
execute_process(COMMAND msiinfo export "${built}" InstallExecuteSequence
    OUTPUT_VARIABLE sequence RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "msiinfo export InstallExecuteSequence failed")
endif()
string(REPLACE "\r\n" "\n" sequence "${sequence}")
string(APPEND sequence "RemoveEnvironmentStrings\t\t3300\nRemoveFolders\t\t3600\nCreateFolders\t\t3700\nWriteEnvironmentStrings\t\t5200\n")
file(WRITE "${work}/InstallExecuteSequence.idt" "${sequence}")
velmora_msibuild(-i "${work}/InstallExecuteSequence.idt")

# The package code: a name-based UUID over the whole database, every table and
# every stream but the summary information (which holds it) and a signature's
# streams (which signing adds), so that any two packages that differ have two
# codes, the same tree builds the same one, and signing keeps it.
execute_process(COMMAND msiinfo tables "${built}" OUTPUT_VARIABLE tables RESULT_VARIABLE status)
execute_process(COMMAND msiinfo streams "${built}" OUTPUT_VARIABLE streams RESULT_VARIABLE stream_status)
if(NOT status EQUAL 0 OR NOT stream_status EQUAL 0)
    message(FATAL_ERROR "msiinfo could not list the package's tables and streams")
endif()
string(STRIP "${tables}" tables)
string(STRIP "${streams}" streams)
string(REPLACE "\n" ";" tables "${tables}")
string(REPLACE "\n" ";" streams "${streams}")
list(SORT tables)
list(SORT streams)
set(database "")
foreach(table IN LISTS tables)
    if(table AND NOT table STREQUAL "_SummaryInformation")
        execute_process(COMMAND msiinfo export "${built}" "${table}" OUTPUT_VARIABLE rows RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "msiinfo export ${table} failed")
        endif()
        string(SHA256 digest "${rows}")
        string(APPEND database "table ${table} ${digest}\n")
    endif()
endforeach()
foreach(stream IN LISTS streams)
    if(stream AND NOT stream MATCHES "SummaryInformation$|DigitalSignature$|MsiDigitalSignatureEx$")
        execute_process(COMMAND msiinfo extract "${built}" "${stream}" OUTPUT_FILE "${work}/stream" RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "msiinfo extract ${stream} failed")
        endif()
        file(SHA256 "${work}/stream" digest)
        string(APPEND database "stream ${stream} ${digest}\n")
    endif()
endforeach()
string(SHA256 database_digest "${database}")
string(UUID PACKAGE_CODE NAMESPACE "${UPGRADE_CODE}" NAME "Velmora package ${database_digest}" TYPE SHA1 UPPER)

string(TIMESTAMP saved "%Y/%m/%d %H:%M:%S" UTC)
file(WRITE "${work}/_SummaryInformation.idt"
    "PropertyId\tValue\ni2\tl255\n_SummaryInformation\tPropertyId\n9\t{${PACKAGE_CODE}}\n12\t${saved}\n13\t${saved}\n")
velmora_msibuild(-i "${work}/_SummaryInformation.idt")

file(RENAME "${built}" "${MSI}")
file(REMOVE_RECURSE "${work}")
