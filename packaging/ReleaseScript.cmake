# The start of every packaging script run as cmake -D FACTS=FILE ... -P SCRIPT:
# the release facts that FACTS names (<build>/release-facts.cmake, written by
# ReleaseFacts.cmake), the release's one time (SourceDateEpoch.cmake), and
# velmora_needs(NAME...), which stops the script where it was not given one of
# its own -D values, and velmora_staged(STAGE), which stops it where a staged
# tree lacks a file that a release signs.
cmake_minimum_required(VERSION 3.25)
if(NOT DEFINED FACTS)
    message(FATAL_ERROR "${CMAKE_SCRIPT_MODE_FILE} needs -D FACTS=<build>/release-facts.cmake")
endif()
include("${FACTS}")
include("${CMAKE_CURRENT_LIST_DIR}/SourceDateEpoch.cmake")

function(velmora_needs)
    foreach(name IN LISTS ARGN)
        if(NOT DEFINED ${name})
            message(FATAL_ERROR "${CMAKE_SCRIPT_MODE_FILE} needs -D ${name}=...")
        endif()
    endforeach()
endfunction()

function(velmora_staged stage)
    foreach(file IN LISTS SIGNED)
        if(NOT EXISTS "${stage}/${file}")
            message(FATAL_ERROR "${stage} holds no ${file}: stage the build with cmake --install first")
        endif()
    endforeach()
endfunction()
