# The texts a release takes from the project's documents.
include_guard(GLOBAL)

# velmora_legal_copyright(LICENSE OUT): the copyright line of the licence and
# its name, "Copyright (c) YEAR HOLDER. MIT License.", as the version resource
# and the module manifest carry it.
function(velmora_legal_copyright license out)
    file(STRINGS "${license}" copyright REGEX "^Copyright " LIMIT_COUNT 1)
    file(STRINGS "${license}" name LIMIT_COUNT 1)
    set(${out} "${copyright}. ${name}." PARENT_SCOPE)
endfunction()

# velmora_release_notes(CHANGELOG VERSION OUT): the entry of VERSION in the
# changelog, the lines after its heading "## [VERSION]" up to the next, stripped.
# Fails when there is none: a release says what it brings.
function(velmora_release_notes changelog version out)
    file(READ "${changelog}" text)
    string(FIND "\n${text}" "\n## [${version}]" start)
    set(notes "")
    if(start GREATER_EQUAL 0)
        string(SUBSTRING "${text}" ${start} -1 entry)
        string(FIND "${entry}" "\n" heading_end)
        string(SUBSTRING "${entry}" ${heading_end} -1 entry)
        string(FIND "${entry}" "\n## " next)
        string(SUBSTRING "${entry}" 0 ${next} notes)
    endif()
    string(STRIP "${notes}" notes)
    if(notes STREQUAL "")
        message(FATAL_ERROR "CHANGELOG.md has no entry \"## [${version}]\": write what this release brings first")
    endif()
    set(${out} "${notes}" PARENT_SCOPE)
endfunction()
