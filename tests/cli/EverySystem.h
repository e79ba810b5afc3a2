// Command-line cases that hold on every system that keeps the cache limits as
// Windows does: run on the simulated system (SimTests.cpp) and on CACHESIM.dll
// under Wine (WineTests.cpp). A row uses only the cache's own state keys
// (system, min, max, flags, largest, available); a case that needs another key
// of the simulated system goes in SimulatedSystem.h.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolRun.h"

struct CommandFact {
    const char *rule;
    int bits;                      // the build it applies to: 32, 64, or 0 for both
    std::string state;             // the system's state file
    std::vector<std::string> args; // the command line
    std::string success;           // the success line, without its line end; "" for a failure
    std::string failedCall;        // for a failure: the call reported, and its code
    int code;
    std::string getAfter; // after a success: what -G prints then; after a failure the state is unchanged
};

inline const std::vector<CommandFact> &CommandFacts()
{
    static const std::vector<CommandFact> facts = {
        {"equal sizes with hard limits", 0, "", {"-S", "100", "100"}, "", "SetSystemFileCacheSize", 87, ""},
        {"a hard maximum below 16 MB", 0, "", {"-S", "1", "15"}, "", "SetSystemFileCacheSize", 87, ""},
        {"a hard maximum of 16 MB", 0, "", {"-S", "1", "16"},
         "Success: SetSystemFileCacheSize(Min:[1048576], Max:[16777216], Flags: 5)", "", 0,
         "Success: GetSystemFileCacheSize(Min:[1048576], Max:[16777216], Flags: 5)"},
        {"0 keeps the current minimum; the line echoes 0", 0, "min=5242880\n", {"-S", "0", "2048"},
         "Success: SetSystemFileCacheSize(Min:[0], Max:[2147483648], Flags: 5)", "", 0,
         "Success: GetSystemFileCacheSize(Min:[5242880], Max:[2147483648], Flags: 5)"},
        {"0 keeps the current maximum, below the minimum", 0, "max=2147483648\n", {"-S", "3000", "0"}, "",
         "SetSystemFileCacheSize", 87, ""},
        {"0 0 puts both hard limits on at the current sizes", 64, "system=x64\n", {"-S", "0", "0"},
         "Success: SetSystemFileCacheSize(Min:[0], Max:[0], Flags: 5)", "", 0,
         "Success: GetSystemFileCacheSize(Min:[1048576], Max:[17592186044416], Flags: 5)"},
        {"0 0 on sizes 7 pages apart: hard limits on", 0, "min=67080192\nmax=67108864\n", {"-S", "0", "0"},
         "Success: SetSystemFileCacheSize(Min:[0], Max:[0], Flags: 5)", "", 0,
         "Success: GetSystemFileCacheSize(Min:[67080192], Max:[67108864], Flags: 5)"},
        {"0 0 on sizes 6 pages apart: too close for hard limits", 0, "min=67084288\nmax=67108864\n",
         {"-S", "0", "0"}, "", "SetSystemFileCacheSize", 87, ""},
        {"Clear on a maximum below 20 pages raises both to 20", 0, "min=8192\nmax=16384\n", {"-C"},
         "Success: SetSystemFileCacheSize(Min:[8192], Max:[16384], Flags: 10)", "", 0,
         "Success: GetSystemFileCacheSize(Min:[81920], Max:[81920], Flags: 0)"},
        {"a maximum above the largest is lowered without a word", 64, "largest=8589934592\n", {"-S", "1", "10000"},
         "Success: SetSystemFileCacheSize(Min:[1048576], Max:[10485760000], Flags: 5)", "", 0,
         "Success: GetSystemFileCacheSize(Min:[1048576], Max:[8589934592], Flags: 5)"},
        {"a maximum above the largest is lowered without a word", 32, "largest=2147483648\n", {"-S", "1", "4000"},
         "Success: SetSystemFileCacheSize(Min:[1048576], Max:[4194304000], Flags: 5)", "", 0,
         "Success: GetSystemFileCacheSize(Min:[1048576], Max:[2147483648], Flags: 5)"},
        {"a minimum beyond what the system can spare", 0, "available=1073741824\n", {"-S", "2000", "4000"}, "",
         "SetSystemFileCacheSize", 1450, ""},
        {"Clear on equal sizes", 0, "min=104857600\nmax=104857600\nflags=5\n", {"-C"},
         "Success: SetSystemFileCacheSize(Min:[104857600], Max:[104857600], Flags: 10)", "", 0,
         "Success: GetSystemFileCacheSize(Min:[104857600], Max:[104857600], Flags: 0)"},
        {"the 32-bit program on an untouched 64-bit system", 32, "system=x64\n", {"-G"}, "",
         "GetSystemFileCacheSize", 534, ""},
    };
    return facts;
}

// Checks every fact for the build under test on a system: system.Write(state)
// sets its state, system.RunAgain(args) runs a command line on it as it is, and
// system.State() reads the state back.
template <typename System> void ExpectCommandFacts(System &system)
{
    for (const CommandFact &fact : CommandFacts()) {
        if (fact.bits != 0 && fact.bits != g_tool.sizeBits)
            continue;
        SCOPED_TRACE(std::string(fact.rule) + ": " + Describe(fact.args) + " on " + Visible(fact.state));
        system.Write(fact.state);
        const std::string before = system.State();
        ToolResult result = system.RunAgain(fact.args);
        if (!fact.success.empty()) {
            EXPECT_TRUE(Matches(AsWritten(fact.success + "\n"), result.out));
            EXPECT_EQ(0, result.exitCode);
            ToolResult get = system.RunAgain({"-G"});
            EXPECT_TRUE(Matches(AsWritten(fact.getAfter + "\n"), get.out)) << "-G after it";
        } else {
            // The system's text ends in its own CR LF, and the line in one more.
            EXPECT_TRUE(Matches(AsWritten(Report("main.cpp", fact.failedCall, fact.code, AnyText + "\r\n")), result.out));
            EXPECT_EQ(1, result.exitCode);
            EXPECT_EQ(before, system.State()) << "a failed call changed the system";
        }
    }
}
