// The test driver: velmora_tests --exe PATH [--wine WINE] [gtest options]
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include "ToolRun.h"

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int index = 1; index + 1 < argc; index += 2) {
        if (strcmp(argv[index], "--exe") == 0) {
            g_tool.exe = argv[index + 1];
        } else if (strcmp(argv[index], "--wine") == 0) {
            g_tool.wine = argv[index + 1];
        } else {
            fprintf(stderr, "unknown option %s\n", argv[index]);
            return 2;
        }
    }
    if (g_tool.exe.empty() && !GTEST_FLAG_GET(list_tests)) {
        fprintf(stderr, "usage: %s --exe PATH [--wine WINE] [gtest options]\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
