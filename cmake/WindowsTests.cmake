# Tests of the cross-compiled Velmora.exe: its file format and resources, its
# release archive, and its behaviour under Wine, driven by the native test
# driver built on the side.

include(ExternalProject)

# Debian's python3-pefile belongs to the system's own Python.
find_program(SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(wine_sh "${PROJECT_SOURCE_DIR}/scripts/wine.sh")
set(wine_prefix "${CMAKE_BINARY_DIR}/wineprefix")
math(EXPR size_bits "${CMAKE_SIZEOF_VOID_P} * 8")

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
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF -DVELMORA_SIM_WIN64=${sim_win64}
    BUILD_COMMAND "${CMAKE_COMMAND}" --build "${sim_dir}" --target Velmora
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${sim_dir}/Velmora")

# Wine has no system file cache limits. CACHESIM.dll has them: it serves the two
# cache calls and forwards every other function that Velmora.exe imports from
# KERNEL32.dll to kernel32. Beside it stands a copy of Velmora.exe that imports
# CACHESIM.dll in place of KERNEL32.dll, and nothing else changed.
set(cache_sim_dir "${CMAKE_BINARY_DIR}/cachesim")
set(cache_sim_py "${PROJECT_SOURCE_DIR}/tests/cachesim/cachesim.py")
add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/CACHESIM.def"
    COMMAND "${SYSTEM_PYTHON3}" "${cache_sim_py}" def $<TARGET_FILE:Velmora> "${CMAKE_BINARY_DIR}/CACHESIM.def"
    DEPENDS Velmora "${cache_sim_py}"
    COMMENT "Forwarding Velmora's KERNEL32 imports")
add_library(CacheSim SHARED tests/cachesim/CacheSim.cpp sim/CacheModel.cpp "${CMAKE_BINARY_DIR}/CACHESIM.def")
set_target_properties(CacheSim PROPERTIES
    OUTPUT_NAME CACHESIM PREFIX "" RUNTIME_OUTPUT_DIRECTORY "${cache_sim_dir}")
velmora_warnings(CacheSim)
# Exported under their plain names on 32-bit too, as kernel32 exports them.
target_link_options(CacheSim PRIVATE -Wl,--kill-at)
target_include_directories(CacheSim PRIVATE "${PROJECT_SOURCE_DIR}/sim")
velmora_windows_binary(CacheSim)
add_custom_command(OUTPUT "${cache_sim_dir}/Velmora.exe"
    COMMAND "${SYSTEM_PYTHON3}" "${cache_sim_py}" patch $<TARGET_FILE:Velmora> "${cache_sim_dir}/Velmora.exe"
    DEPENDS Velmora "${cache_sim_py}"
    COMMENT "Copying Velmora.exe to import CACHESIM.dll")
# The benchmark's empty program likewise, so that under Wine both programs it
# compares load CACHESIM.dll.
add_custom_command(OUTPUT "${cache_sim_dir}/VelmoraEmpty.exe"
    COMMAND "${SYSTEM_PYTHON3}" "${cache_sim_py}" patch $<TARGET_FILE:VelmoraEmpty> "${cache_sim_dir}/VelmoraEmpty.exe"
    DEPENDS VelmoraEmpty "${cache_sim_py}"
    COMMENT "Copying VelmoraEmpty.exe to import CACHESIM.dll")
add_custom_target(CacheSimVelmora ALL
    DEPENDS "${cache_sim_dir}/Velmora.exe" "${cache_sim_dir}/VelmoraEmpty.exe" CacheSim)

# One Wine prefix, made once and kept warm by a persistent server for the run.
add_test(NAME wine.prefix COMMAND "${CMAKE_COMMAND}" -E env "WINEPREFIX=${wine_prefix}" "${wine_sh}" --start)
add_test(NAME wine.shutdown COMMAND "${CMAKE_COMMAND}" -E env "WINEPREFIX=${wine_prefix}" "${wine_sh}" --stop)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 900)
set_tests_properties(wine.shutdown PROPERTIES FIXTURES_CLEANUP wine)

# Every Wine case of the driver becomes a test of its own, found when ctest runs.
file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/wine-cases.cmake" CONTENT "\
set(driver [==[${driver_dir}/velmora_tests]==])
set(driver_args --exe [==[$<TARGET_FILE:Velmora>]==] --wine [==[${wine_sh}]==]
    --size-bits ${size_bits} --cache-sim [==[${cache_sim_dir}]==] --sim-exe [==[${sim_dir}/Velmora]==])
set(environment [==[WINEPREFIX=${wine_prefix}]==])
include([==[${PROJECT_SOURCE_DIR}/cmake/WineCases.cmake]==])
")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${CMAKE_BINARY_DIR}/wine-cases.cmake")

if(VELMORA_README_TESTS)
    # The README's startup script, run by Wine's cmd with the CACHESIM.dll copy
    # of Velmora.exe beside it and a stand-in for eventcreate.
    add_executable(EventCreateStandIn tests/readme/eventcreate.cpp)
    set_target_properties(EventCreateStandIn PROPERTIES
        OUTPUT_NAME eventcreate RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/readme")
    velmora_warnings(EventCreateStandIn)
    velmora_windows_binary(EventCreateStandIn)
    add_test(NAME readme.startup-script
        COMMAND "${SYSTEM_PYTHON3}" "${PROJECT_SOURCE_DIR}/tests/readme/check_readme.py" wine
                "${PROJECT_SOURCE_DIR}/README.md" --wine "${wine_sh}" --cache-sim "${cache_sim_dir}"
                --eventcreate $<TARGET_FILE:EventCreateStandIn>)
    set_tests_properties(readme.startup-script PROPERTIES
        ENVIRONMENT "WINEPREFIX=${wine_prefix}" FIXTURES_REQUIRED wine TIMEOUT 300)
endif()

add_test(NAME pe.format-imports-resources
    COMMAND "${SYSTEM_PYTHON3}" "${PROJECT_SOURCE_DIR}/tests/check_pe.py"
            $<TARGET_FILE:Velmora> "${PROJECT_VERSION}" "${VELMORA_WINDOWS_ARCH}")

add_test(NAME release.reproducible
    COMMAND sh "${PROJECT_SOURCE_DIR}/tests/test_release.sh" reproducible "${PROJECT_SOURCE_DIR}"
            "${VELMORA_WINDOWS_ARCH}")
add_test(NAME release.archive
    COMMAND sh "${PROJECT_SOURCE_DIR}/tests/test_release.sh" archive "${CMAKE_BINARY_DIR}" "${PROJECT_VERSION}"
            "${VELMORA_WINDOWS_ARCH}")
set_tests_properties(release.reproducible PROPERTIES TIMEOUT 600)
if(VELMORA_WINDOWS_ARCH STREQUAL "win64")
    # The release script builds both archives, so one build tests it.
    add_test(NAME release.script
        COMMAND sh "${PROJECT_SOURCE_DIR}/tests/test_release.sh" script "${PROJECT_SOURCE_DIR}"
                "${PROJECT_VERSION}" "${PROJECT_HOMEPAGE_URL}")
    set_tests_properties(release.script PROPERTIES TIMEOUT 900)
endif()

# The start-up benchmark under Wine, with one run of each: it must finish and
# print its table. It brings its own warm server up and down, so it runs alone.
string(TOUPPER "${VELMORA_WINDOWS_ARCH}_BUILD" build_variable)
add_test(NAME bench.startup-smoke-wine
    COMMAND sh "${PROJECT_SOURCE_DIR}/bench/startup.sh" --rounds 1 --runs 1 "${VELMORA_WINDOWS_ARCH}")
set_tests_properties(bench.startup-smoke-wine PROPERTIES
    ENVIRONMENT "${build_variable}=${CMAKE_BINARY_DIR};WINEPREFIX=${wine_prefix}"
    DEPENDS wine.shutdown
    RUN_SERIAL ON
    TIMEOUT 900
    PASS_REGULAR_EXPRESSION "\\| ${VELMORA_WINDOWS_ARCH} \\| 1 \\| [0-9.]+ / [0-9.]+ / [0-9.]+ \\|")
