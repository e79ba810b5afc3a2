# velmora_pester_test(NAME SUITE DATA TIMEOUT): a test that runs the Pester
# suite SUITE with PowerShell 7 through powershell/tests/Invoke-Tests.ps1, which
# fails unless tests ran and all passed. DATA is the suite's parameters, a JSON
# object. The suite finds the shared test helpers in $env:VELMORA_TEST_SUPPORT
# (tests/support).
include_guard(GLOBAL)

function(velmora_pester_test name suite data timeout)
    add_test(NAME ${name}
        COMMAND "${VELMORA_PWSH}" -NoLogo -NoProfile -NonInteractive
                -File "${PROJECT_SOURCE_DIR}/powershell/tests/Invoke-Tests.ps1" -Path "${suite}" -Data "${data}")
    set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout}
        ENVIRONMENT "VELMORA_TEST_SUPPORT=${PROJECT_SOURCE_DIR}/tests/support")
endfunction()
