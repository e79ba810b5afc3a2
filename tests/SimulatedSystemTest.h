// A simulated system of a test's own: its state file and its log of calls in a
// scratch folder, and runs of a program on it. The fixture of the tests of both
// programs on the simulated system.
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "ToolRun.h"
#include "cli/CommandFacts.h"

class SimulatedSystemTest : public testing::Test {
public:
    void SetUp() override
    {
        dir_ = MakeTempDir();
        statePath_ = dir_ + "/state";
        logPath_ = dir_ + "/log";
    }

    void TearDown() override
    {
        remove(statePath_.c_str());
        remove(logPath_.c_str());
        rmdir(dir_.c_str());
    }

    void Write(const std::string &state) { WriteFile(statePath_, state); }
    std::string State() const { return ReadFile(statePath_); }

    // Every call the system saw in the last run.
    std::vector<std::string> Log() const { return ReadLines(logPath_); }

    // Runs the program (g_tool.exe where exe is empty) on the system as it is;
    // the log starts empty.
    ToolResult RunOn(const std::string &exe, const std::vector<std::string> &args,
                     const ToolInput &input = ToolInput())
    {
        remove(logPath_.c_str());
        return RunTool(args, {{"VELMORA_SIM_STATE", statePath_}, {"VELMORA_SIM_LOG", logPath_}}, exe, input);
    }

    std::string dir_;
    std::string statePath_;
    std::string logPath_;
};

// Registers each row of a table that holds at the build's width as a test of
// its own, SUITE.<its rule in CamelCase>, two rows of one rule told apart by
// their place; make(row) gives the test (a Fixture) that checks the row.
template <typename Fixture, typename Row, typename Make>
void RegisterRows(const char *suite, const std::vector<Row> &rows, Make make)
{
    std::map<std::string, int> named;
    for (const Row &row : rows) {
        if (row.bits != 0 && row.bits != g_tool.sizeBits)
            continue;
        std::string name = TestName(row.rule);
        if (++named[name] > 1)
            name += std::to_string(named[name]);
        testing::RegisterTest(suite, name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                              [row, make]() -> Fixture * { return make(row); });
    }
}
