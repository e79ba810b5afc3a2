# What every part of the build shares, set once: the width of the programs, and
# the tools that the build and the tests run.
#   VELMORA_BITS           32 or 64: the width of the Windows process the build
#                          makes, or simulates (VELMORA_SIM_WIN64 off Windows)
#   VELMORA_WINDOWS_ARCH   win32 or win64, on Windows builds: the archive's name
#   SYSTEM_PYTHON3         Debian's python3 (its pefile and yaml are the
#                          system's), which the Windows builds run
#   VELMORA_PYTHON         the command that runs a Python test: that python3,
#                          with the shared test helpers (tests/support) on its path
#   VELMORA_PWSH           PowerShell 7, where the tests need it
#   VELMORA_WINE_SH, VELMORA_WINE_PREFIX
#                          the Wine set-up and the one prefix that a Windows
#                          build's tests share
include_guard(GLOBAL)

if(WIN32)
    math(EXPR VELMORA_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
    if(VELMORA_BITS EQUAL 64)
        set(VELMORA_WINDOWS_ARCH win64)
    else()
        set(VELMORA_WINDOWS_ARCH win32)
    endif()
else()
    option(VELMORA_SIM_WIN64 "Simulate a 64-bit process (64-bit SIZE_T) instead of a 32-bit one" OFF)
    if(VELMORA_SIM_WIN64)
        set(VELMORA_BITS 64)
    else()
        set(VELMORA_BITS 32)
    endif()
endif()

if(CMAKE_CROSSCOMPILING OR BUILD_TESTING)
    find_program(SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
    set(VELMORA_PYTHON "${CMAKE_COMMAND}" -E env "PYTHONPATH=${PROJECT_SOURCE_DIR}/tests/support" "${SYSTEM_PYTHON3}")
endif()
if(BUILD_TESTING AND (NOT WIN32 OR VELMORA_WINDOWS_ARCH STREQUAL "win64"))
    find_program(VELMORA_PWSH pwsh PATHS "$ENV{HOME}/.dotnet/tools" REQUIRED)
endif()
if(CMAKE_CROSSCOMPILING AND BUILD_TESTING)
    set(VELMORA_WINE_SH "${PROJECT_SOURCE_DIR}/scripts/wine.sh")
    set(VELMORA_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
endif()
