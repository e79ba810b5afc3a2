// The test driver:
//   velmora_tests --exe PATH [--wine RUNNER] [--size-bits 32|64] [--cache-sim DIR] [--sim-exe PATH] [--state-exe PATH] [gtest options]
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ToolRun.h"

// Register the rows of the tables at the build's width as tests of their own:
// the facts of the width under Wine (WineTests.cpp), and on the simulated system
// the command-line cases (SimTests.cpp) and the wanted states (StateTests.cpp).
void RegisterWidthFacts();
void RegisterSimulatedSystemRows();
void RegisterWantedStateRows();

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int index = 1; index + 1 < argc; index += 2) {
        const char *option = argv[index];
        const char *value = argv[index + 1];
        if (strcmp(option, "--exe") == 0) {
            g_tool.exe = value;
        } else if (strcmp(option, "--wine") == 0) {
            g_tool.wine = value;
        } else if (strcmp(option, "--cache-sim") == 0) {
            g_tool.cacheSim = value;
        } else if (strcmp(option, "--state-exe") == 0) {
            g_tool.stateExe = value;
        } else if (strcmp(option, "--sim-exe") == 0) {
            g_tool.simExe = value;
        } else if (strcmp(option, "--size-bits") == 0 && (strcmp(value, "32") == 0 || strcmp(value, "64") == 0)) {
            g_tool.sizeBits = atoi(value);
        } else {
            fprintf(stderr, "unknown option %s %s\n", option, value);
            return 2;
        }
    }
    if ((argc % 2) == 0 || (g_tool.exe.empty() && !GTEST_FLAG_GET(list_tests))) {
        fprintf(stderr, "usage: %s --exe PATH [--wine RUNNER] [--size-bits 32|64] [--cache-sim DIR] [--sim-exe PATH] [--state-exe PATH] [gtest options]\n",
                argv[0]);
        return 2;
    }
    RegisterWidthFacts();
    RegisterSimulatedSystemRows();
    RegisterWantedStateRows();
    return RUN_ALL_TESTS();
}
