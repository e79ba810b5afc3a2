# The texts a release takes from its changelog.
include_guard(GLOBAL)

# velmora_changelog_section(CHANGELOG NAME HEADING BODY): the section "## [NAME]"
# of the changelog, its heading line and the lines after it up to the next
# section, stripped; both empty where there is no such section.
function(velmora_changelog_section changelog name heading_out body_out)
    file(READ "${changelog}" text)
    string(FIND "\n${text}" "\n## [${name}]" start)
    set(heading "")
    set(body "")
    if(start GREATER_EQUAL 0)
        string(SUBSTRING "${text}" ${start} -1 section)
        string(FIND "${section}" "\n" heading_end)
        string(SUBSTRING "${section}" 0 ${heading_end} heading)
        string(SUBSTRING "${section}" ${heading_end} -1 section)
        string(FIND "${section}" "\n## " next)
        string(SUBSTRING "${section}" 0 ${next} body)
        string(STRIP "${body}" body)
    endif()
    set(${heading_out} "${heading}" PARENT_SCOPE)
    set(${body_out} "${body}" PARENT_SCOPE)
endfunction()

# velmora_release_notes(CHANGELOG VERSION NOTES [DATE]): the entry of VERSION in
# the changelog, and the date of its heading ("## [VERSION] - YYYY-MM-DD"),
# empty where it has none. Fails when there is no entry: a release says what it
# brings.
function(velmora_release_notes changelog version notes_out)
    velmora_changelog_section("${changelog}" "${version}" heading notes)
    if(notes STREQUAL "")
        message(FATAL_ERROR "CHANGELOG.md has no entry \"## [${version}]\": write what this release brings first")
    endif()
    set(${notes_out} "${notes}" PARENT_SCOPE)
    if(ARGC GREATER 3)
        set(date "")
        if(heading MATCHES "^## \\[[^]]+\\] - ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
            set(date "${CMAKE_MATCH_1}")
        endif()
        set(${ARGV3} "${date}" PARENT_SCOPE)
    endif()
endfunction()

# velmora_release_publishable(CHANGELOG VERSION): fails unless the changelog
# says what VERSION is, as a published release must: a dated entry of its own,
# and nothing left under "## [Unreleased]" that the release would not say.
function(velmora_release_publishable changelog version)
    velmora_release_notes("${changelog}" "${version}" notes date)
    if(date STREQUAL "")
        message(FATAL_ERROR "CHANGELOG.md gives ${version} no date: head its entry \"## [${version}] - YYYY-MM-DD\", the day of the release commit")
    endif()
    velmora_changelog_section("${changelog}" "Unreleased" heading unreleased)
    if(NOT unreleased STREQUAL "")
        message(FATAL_ERROR "CHANGELOG.md lists changes under [Unreleased] that ${version} would not say: move them into its entry, or release them later")
    endif()
endfunction()

# Run as a script, it checks a release before it is published:
#   cmake -D CHANGELOG=FILE -D VERSION=V -P ReleaseTexts.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    velmora_release_publishable("${CHANGELOG}" "${VERSION}")
endif()
