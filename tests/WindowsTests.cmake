# Tests of the cross-compiled programs from outside: their file format and
# resources, their behaviour and their event texts under Wine, driven by the
# native test driver built on the side, and the guide's msiexec lines. Here too
# the Wine prefix that every Wine test of the build shares (the fixture wine).

include(ExternalProject)

# CACHESIM.dll (sim/wine) and the copies of the programs that import it.
set(cache_sim_dir "$<TARGET_FILE_DIR:CacheSim>")
set(wine_sh "${VELMORA_WINE_SH}")
set(wine_prefix "${VELMORA_WINE_PREFIX}")
set(size_bits ${VELMORA_BITS})

set(driver_dir "${CMAKE_BINARY_DIR}/test-driver")
ExternalProject_Add(test_driver
    SOURCE_DIR "${PROJECT_SOURCE_DIR}/tests"
    BINARY_DIR "${driver_dir}"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${driver_dir}/velmora_tests")

# The same sources built natively on the simulated system, at the same width,
# for the test that runs one command line on both and compares the answers.
set(sim_dir "${CMAKE_BINARY_DIR}/sim-velmora")
if(size_bits EQUAL 64)
    set(sim_win64 ON)
else()
    set(sim_win64 OFF)
endif()
ExternalProject_Add(sim_velmora
    SOURCE_DIR "${PROJECT_SOURCE_DIR}"
    BINARY_DIR "${sim_dir}"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELMORA_SIM_WIN64=${sim_win64}
    BUILD_COMMAND "${CMAKE_COMMAND}" --build "${sim_dir}" --target Velmora
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${sim_dir}/Velmora")

# One Wine prefix, made once and kept warm by a persistent server for the run.
add_test(NAME wine.prefix COMMAND "${CMAKE_COMMAND}" -E env "WINEPREFIX=${wine_prefix}" "${wine_sh}" --start)
add_test(NAME wine.shutdown COMMAND "${CMAKE_COMMAND}" -E env "WINEPREFIX=${wine_prefix}" "${wine_sh}" --stop)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 600)
set_tests_properties(wine.shutdown PROPERTIES FIXTURES_CLEANUP wine)

# Every Wine case of the driver becomes a test of its own, found when ctest runs.
# The 32-bit program runs the cases whose answer depends on the width or is its
# own (suites Wine, WineCache and WineState): where 32-bit programs are emulated, each of
# its starts costs about a minute. The 64-bit program runs every case.
if(size_bits EQUAL 64)
    set(wine_filter "Wine*")
else()
    set(wine_filter "Wine.*:WineCache.*:WineState.*")
endif()
file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/wine-cases.cmake" CONTENT "\
set(driver [==[${driver_dir}/velmora_tests]==])
set(filter [==[${wine_filter}]==])
set(driver_args --exe [==[$<TARGET_FILE:Velmora>]==] --wine [==[${wine_sh}]==]
    --size-bits ${size_bits} --cache-sim [==[${cache_sim_dir}]==] --sim-exe [==[${sim_dir}/Velmora]==])
set(environment [==[WINEPREFIX=${wine_prefix}]==])
include([==[${CMAKE_CURRENT_LIST_DIR}/WineCases.cmake]==])
")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${CMAKE_BINARY_DIR}/wine-cases.cmake")

if(size_bits EQUAL 64)
    # The startup task's events as the Application log shows them: each ID's text
    # from the shipped program's message table, through FormatMessage.
    add_executable(EventText tests/events/EventText.cpp)
    velmora_warnings(EventText)
    velmora_windows_binary(EventText)
    target_link_options(EventText PRIVATE -municode)
    add_test(NAME events.message-table
        COMMAND ${VELMORA_PYTHON} "${PROJECT_SOURCE_DIR}/tests/events/check_events.py" --wine "${wine_sh}"
                --event-text $<TARGET_FILE:EventText> --program $<TARGET_FILE:VelmoraState>)
    set_tests_properties(events.message-table PROPERTIES
        ENVIRONMENT "WINEPREFIX=${wine_prefix}" FIXTURES_REQUIRED wine TIMEOUT 300)
endif()

foreach(program IN ITEMS Velmora VelmoraState)
    add_test(NAME pe.${program}
        COMMAND ${VELMORA_PYTHON} "${PROJECT_SOURCE_DIR}/tests/check_pe.py"
                $<TARGET_FILE:${program}> "${PROJECT_VERSION}" "${VELMORA_WINDOWS_ARCH}")
endforeach()
