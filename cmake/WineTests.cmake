# Tests of the cross-compiled Velmora.exe: its file format and resources, and its
# behaviour under Wine, driven by the native test driver built on the side.

include(ExternalProject)

find_program(WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
find_program(WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
# Debian's python3-pefile belongs to the system's own Python.
find_program(SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

set(driver_dir "${CMAKE_BINARY_DIR}/test-driver")
ExternalProject_Add(test_driver
    SOURCE_DIR "${PROJECT_SOURCE_DIR}/tests"
    BINARY_DIR "${driver_dir}"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${driver_dir}/velmora_tests")

set(wine_prefix "${CMAKE_BINARY_DIR}/wineprefix")
set(wine_env
    "WINEPREFIX=${wine_prefix}"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=d")

# One Wine prefix, made once and kept warm by a persistent server for the run.
add_test(NAME wine.prefix COMMAND "${CMAKE_COMMAND}" -E env ${wine_env}
    sh "${PROJECT_SOURCE_DIR}/tests/wine-prefix.sh" start "${WINE64}" "${WINESERVER}")
add_test(NAME wine.shutdown COMMAND "${CMAKE_COMMAND}" -E env ${wine_env}
    sh "${PROJECT_SOURCE_DIR}/tests/wine-prefix.sh" stop "${WINE64}" "${WINESERVER}")
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 900)
set_tests_properties(wine.shutdown PROPERTIES FIXTURES_CLEANUP wine)

foreach(case IN ITEMS
        RefusedCommandLinesPrintUsage
        GetAndClearReportTheUnsupportedCallFromTheirOwnLines
        SetPassesThePrivilegeStepAndReportsTheWrite
        SetRefusesABadSize)
    add_test(NAME wine.${case}
        COMMAND "${driver_dir}/velmora_tests" --exe $<TARGET_FILE:Velmora> --wine "${WINE64}"
                --gtest_filter=Wine.${case})
    set_tests_properties(wine.${case} PROPERTIES
        ENVIRONMENT "${wine_env}"
        FIXTURES_REQUIRED wine
        TIMEOUT 900)
endforeach()

add_test(NAME pe.format-imports-resources
    COMMAND "${SYSTEM_PYTHON3}" "${PROJECT_SOURCE_DIR}/tests/check_pe.py"
            $<TARGET_FILE:Velmora> "${PROJECT_VERSION}")

add_test(NAME release.reproducible
    COMMAND sh "${PROJECT_SOURCE_DIR}/tests/check_release.sh" reproducible "${PROJECT_SOURCE_DIR}")
add_test(NAME release.archive
    COMMAND sh "${PROJECT_SOURCE_DIR}/tests/check_release.sh" archive "${CMAKE_BINARY_DIR}" "${PROJECT_VERSION}")
set_tests_properties(release.reproducible PROPERTIES TIMEOUT 600)

# The start-up benchmark under Wine, with one run of each: it must finish and
# print its table. It brings its own warm server up and down, so it runs alone.
add_test(NAME bench.startup-smoke-wine
    COMMAND sh "${PROJECT_SOURCE_DIR}/bench/startup.sh" --rounds 1 --runs 1 wine)
set_tests_properties(bench.startup-smoke-wine PROPERTIES
    ENVIRONMENT "WIN32_BUILD=${CMAKE_BINARY_DIR};WINEPREFIX=${wine_prefix}"
    DEPENDS wine.shutdown
    RUN_SERIAL ON
    TIMEOUT 900
    PASS_REGULAR_EXPRESSION "\\| wine \\| 1 \\| [0-9.]+ / [0-9.]+ / [0-9.]+ \\|")
