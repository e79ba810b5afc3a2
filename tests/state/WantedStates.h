// The cases of WantedStates.txt, and how VelmoraState answers each: run on the
// simulated system (StateTests.cpp) and under Wine with CACHESIM.dll
// (WineTests.cpp). The Pester suites read the same file.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ToolRun.h"
#include "cli/CommandFacts.h"

// One answer of test or of set: what it does, or the refusal, and the warning.
struct StateAnswer {
    std::string does;     // test: "true", "false"; set: "keeps", "applies", "clears"; or "refused"
    std::string refusal;  // input, cannot-hold, memory, system
    std::string minimumMB, maximumMB; // "applies"
    std::string warning;  // lowered, memory, or ""
};

struct WantedStateCase {
    std::string rule;
    int bits = 0;
    std::string state; // the state file, memory included
    std::string wanted;
    StateAnswer test;
    StateAnswer set;
};

// Each refusal's exit code, the program's contract.
inline int RefusalExitCode(const std::string &refusal)
{
    if (refusal == "input")
        return 1;
    if (refusal == "cannot-hold")
        return 2;
    if (refusal == "memory")
        return 3;
    if (refusal == "system")
        return 4;
    throw std::runtime_error("no such refusal: " + refusal);
}

inline StateAnswer ParseStateAnswer(const std::string &text)
{
    StateAnswer answer;
    std::vector<std::string> parts = SplitOn(text, ", warns ");
    if (parts.size() == 2)
        answer.warning = parts[1];
    std::vector<std::string> words = SplitOn(parts[0], " ");
    answer.does = words[0];
    if (answer.does == "refused" && words.size() == 2)
        answer.refusal = words[1];
    else if (answer.does == "applies" && words.size() == 3) {
        answer.minimumMB = words[1];
        answer.maximumMB = words[2];
    } else if (words.size() != 1)
        throw std::runtime_error("WantedStates.txt: a bad answer: " + text);
    return answer;
}

inline const std::vector<WantedStateCase> &WantedStateCases()
{
    static const std::vector<WantedStateCase> cases = [] {
        std::vector<WantedStateCase> rows;
        for (const TableRow &table : ReadTable(VELMORA_WANTED_STATES, 7)) {
            const std::vector<std::string> &columns = table.columns;
            WantedStateCase row;
            row.rule = columns[0];
            row.bits = columns[1] == "any" ? 0 : std::stoi(columns[1]);
            row.state = columns[2] == "unreadable" ? "fail.GlobalMemoryStatusEx=5\n" : "memory=" + columns[2] + "\n";
            if (columns[3] != "-")
                for (const std::string &pair : SplitOn(columns[3], ";"))
                    row.state += Trimmed(pair) + "\n";
            row.wanted = columns[4];
            row.test = ParseStateAnswer(columns[5]);
            row.set = ParseStateAnswer(columns[6]);
            rows.push_back(row);
        }
        return rows;
    }();
    return cases;
}

// The messages of a run's standard error: each line one JSON object with one
// key, the level. Anything else is a failure.
inline testing::AssertionResult MessageLevels(const std::string &err, std::vector<std::string> *levels)
{
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
        if (!message.is_object() || message.size() != 1 || !message.begin().value().is_string())
            return testing::AssertionFailure() << "not a message: " << Visible(line);
        const std::string level = message.begin().key();
        if (level != "error" && level != "warn" && level != "info" && level != "debug" && level != "trace")
            return testing::AssertionFailure() << "no such level: " << Visible(line);
        levels->push_back(level);
    }
    return testing::AssertionSuccess();
}

// The one line of JSON that a run printed, as an object; null where it is not one.
inline nlohmann::json StateLine(const std::string &out)
{
    std::string line = out;
    if (line.size() < 2 || line.back() != '\n' || line.find('\n') != line.size() - 1)
        return nullptr;
    line.pop_back();
    nlohmann::json state = nlohmann::json::parse(line, nullptr, false);
    return state.is_object() ? state : nullptr;
}

// Checks one answer of a run of test or set: the exit code, one error and
// nothing on standard output for a refusal; otherwise one state line, the
// verdict of test, and a warning where the case says so.
inline void ExpectStateAnswer(const StateAnswer &expected, const ToolResult &result, bool isTest)
{
    std::vector<std::string> levels;
    ASSERT_TRUE(MessageLevels(result.err, &levels));
    if (expected.does == "refused") {
        EXPECT_EQ(RefusalExitCode(expected.refusal), result.exitCode);
        EXPECT_EQ("", result.out);
        EXPECT_EQ("error", levels.empty() ? "(none)" : levels.back()) << Visible(result.err);
        return;
    }
    EXPECT_EQ(0, result.exitCode) << Visible(result.err);
    nlohmann::json state = StateLine(result.out);
    ASSERT_TRUE(state.is_object()) << Visible(result.out);
    if (isTest) {
        ASSERT_TRUE(state.contains("_inDesiredState") && state["_inDesiredState"].is_boolean());
        EXPECT_EQ(expected.does == "true", state["_inDesiredState"].get<bool>());
    } else {
        EXPECT_FALSE(state.contains("_inDesiredState"));
    }
    bool warned = std::find(levels.begin(), levels.end(), "warn") != levels.end();
    EXPECT_EQ(!expected.warning.empty(), warned) << Visible(result.err);
    // Each warning says what it is about.
    if (expected.warning == "lowered") {
        EXPECT_NE(std::string::npos, result.err.find("lowers a maximum")) << Visible(result.err);
    }
    if (expected.warning == "memory") {
        EXPECT_NE(std::string::npos, result.err.find("memory could not be read")) << Visible(result.err);
    }
    EXPECT_EQ(levels.end(), std::find(levels.begin(), levels.end(), "error")) << Visible(result.err);
}

// Whether the case's state holds a key that only the simulated system has.
inline bool NeedsSimulatedToken(const WantedStateCase &c)
{
    return c.state.find("privilege=") != std::string::npos;
}

// Runs one case on a system: test, set, a second test and set where the first
// one applied, resolve and get. system.Write(state) sets its state,
// system.Run(args, input) runs VelmoraState on it as it is, system.State()
// reads the state back, and system.SetCalls() counts the cache writes of the
// last run.
template <typename System> void ExpectWantedStateCase(System &system, const WantedStateCase &c)
{
    SCOPED_TRACE(c.rule + ": " + c.wanted + " on " + Visible(c.state));
    const ToolInput wanted = PipedText(c.wanted + "\n");
    system.Write(c.state);
    const std::string before = system.State();

    ToolResult test = system.Run({"test"}, wanted);
    ExpectStateAnswer(c.test, test, true);
    EXPECT_EQ(before, system.State()) << "test changed the system";

    ToolResult set = system.Run({"set"}, wanted);
    ExpectStateAnswer(c.set, set, false);
    const std::string after = system.State();
    if (c.set.does == "applies") {
        EXPECT_EQ(std::to_string(std::stoull(c.set.minimumMB) << 20), StateValue(after, "min"));
        if (c.set.warning == "lowered") {
            EXPECT_LT(std::stoull(StateValue(after, "max")), std::stoull(c.set.maximumMB) << 20);
        } else {
            EXPECT_EQ(std::to_string(std::stoull(c.set.maximumMB) << 20), StateValue(after, "max"));
        }
        EXPECT_EQ("5", StateValue(after, "flags"));
    } else if (c.set.does == "clears") {
        EXPECT_EQ(StateValue(before, "min"), StateValue(after, "min"));
        EXPECT_EQ(StateValue(before, "max"), StateValue(after, "max"));
        EXPECT_EQ("0", StateValue(after, "flags"));
    } else {
        EXPECT_EQ(before, after) << "the system changed";
    }
    if (c.set.does != "refused") {
        // The state that set prints is the one in force afterwards.
        nlohmann::json state = StateLine(set.out);
        ASSERT_TRUE(state.is_object());
        EXPECT_EQ(StateValue(after, "min"), state["minimumBytes"].dump());
        EXPECT_EQ(StateValue(after, "max"), state["maximumBytes"].dump());
        EXPECT_EQ(StateValue(after, "flags"), state["flags"].dump());
    }
    if (c.set.does == "applies" || c.set.does == "clears") {
        // Once applied, a state that holds is in place, and set calls nothing more.
        bool holds = c.set.warning != "lowered";
        ToolResult retest = system.Run({"test"}, wanted);
        nlohmann::json again = StateLine(retest.out);
        ASSERT_TRUE(again.is_object()) << "exit code " << retest.exitCode << ": " << Visible(retest.out)
                                       << Visible(retest.err);
        EXPECT_EQ(holds, again["_inDesiredState"].get<bool>());
        system.Run({"set"}, wanted);
        EXPECT_EQ(holds ? 0 : 1, system.SetCalls()) << "a second set";
    }

    // resolve judges as set does, and reads and changes no limit.
    system.Write(c.state);
    ToolResult resolve = system.Run({"resolve"}, wanted);
    if (c.set.does == "refused" && c.set.refusal != "system") {
        EXPECT_EQ(RefusalExitCode(c.set.refusal), resolve.exitCode);
    } else {
        EXPECT_EQ(0, resolve.exitCode) << Visible(resolve.err);
        nlohmann::json resolved = StateLine(resolve.out);
        ASSERT_TRUE(resolved.is_object()) << Visible(resolve.out);
        if (c.set.does == "applies") {
            EXPECT_EQ(c.set.minimumMB, resolved["minimumMB"].dump());
            EXPECT_EQ(c.set.maximumMB, resolved["maximumMB"].dump());
        }
        EXPECT_EQ(c.set.does != "clears" && c.wanted.find("\"hardLimits\":false") == std::string::npos,
                  resolved["hardLimits"].get<bool>());
    }
    EXPECT_EQ(before, system.State());

    // get judges nothing: it reports the limits whatever the wanted state asks,
    // if only the input is valid.
    ToolResult get = system.Run({"get"}, wanted);
    bool unreadable = c.state.find("fail.GetSystemFileCacheSize") != std::string::npos;
    int getExit = c.set.refusal == "input" ? 1 : unreadable ? 4 : 0;
    EXPECT_EQ(getExit, get.exitCode) << Visible(get.err);
    if (getExit == 0) {
        EXPECT_TRUE(StateLine(get.out).is_object()) << Visible(get.out);
    }
}
