# Read by ctest before it runs the tests: registers a test "wine.SUITE.CASE" for
# every Wine case that the test driver lists under the filter, so that each case
# runs without being named anywhere else. The driver is listed with the
# arguments its cases run with, as it registers the facts of the build's width
# then. A driver that lists no case leaves a failing test. Set by the caller:
# driver, filter, driver_args, environment.

execute_process(COMMAND "${driver}" ${driver_args} --gtest_list_tests "--gtest_filter=${filter}"
    OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
set(cases "")
if(status EQUAL 0)
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
        if(line MATCHES "^([A-Za-z0-9_]+)\\.$")
            set(suite "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^  ([A-Za-z0-9_]+)$")
            list(APPEND cases "${suite}.${CMAKE_MATCH_1}")
        endif()
    endforeach()
endif()

if(cases STREQUAL "")
    # Runs the listing again, and fails unless it names a case.
    add_test(wine.cases-listed "${driver}" ${driver_args} --gtest_list_tests "--gtest_filter=${filter}")
    set_tests_properties(wine.cases-listed PROPERTIES PASS_REGULAR_EXPRESSION "\n  [A-Za-z]")
    return()
endif()

foreach(case IN LISTS cases)
    add_test("wine.${case}" "${driver}" ${driver_args} "--gtest_filter=${case}")
    set_tests_properties("wine.${case}" PROPERTIES
        ENVIRONMENT "${environment}"
        FIXTURES_REQUIRED wine
        TIMEOUT 600)
endforeach()
