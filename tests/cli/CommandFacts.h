// The facts of CommandFacts.txt, which hold on every system that keeps the cache
// limits as Windows does: run on the simulated system (SimTests.cpp) and on
// CACHESIM.dll under Wine (WineTests.cpp). The Pester conformance suite reads
// the same file.
#pragma once

#include <gtest/gtest.h>

#include <ctype.h>

#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ToolRun.h"

struct CommandFact {
    std::string rule;
    int bits = 0;                  // 32, 64, or 0 for any
    std::string state;             // the state file: "" for an untouched system
    std::vector<std::string> args; // the command line
    int exitCode = 0;
    std::string answer;            // as the file writes it
    std::vector<std::string> after; // min, max, flags; "=" keeps the value before; empty for unchanged
};

inline std::vector<std::string> SplitOn(const std::string &text, const std::string &separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size())
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

inline std::string Trimmed(const std::string &text)
{
    size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The rows of a table of the tests (CommandFacts.txt, WantedStates.txt): each line
// that is neither empty nor a comment, its columns split by " | ", and its line
// number. A row of another number of columns ends the run.
struct TableRow {
    int line;
    std::vector<std::string> columns;
};

inline std::vector<TableRow> ReadTable(const std::string &path, size_t columns)
{
    std::vector<TableRow> rows;
    std::istringstream file(ReadFile(path));
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        number++;
        if (line.empty() || line[0] == '#')
            continue;
        rows.push_back({number, SplitOn(line, " | ")});
        if (rows.back().columns.size() != columns)
            throw std::runtime_error(path + ":" + std::to_string(number) + ": not " + std::to_string(columns) +
                                     " columns");
    }
    return rows;
}

inline const std::vector<CommandFact> &CommandFacts()
{
    static const std::vector<CommandFact> facts = [] {
        std::vector<CommandFact> rows;
        for (const TableRow &row : ReadTable(VELMORA_COMMAND_FACTS, 7)) {
            const std::vector<std::string> &columns = row.columns;
            CommandFact fact;
            fact.rule = columns[0];
            fact.bits = columns[1] == "any" ? 0 : std::stoi(columns[1]);
            if (columns[2] != "-")
                for (const std::string &pair : SplitOn(columns[2], ";"))
                    fact.state += Trimmed(pair) + "\n";
            fact.args = SplitOn(columns[3], " ");
            fact.exitCode = std::stoi(columns[4]);
            fact.answer = columns[5];
            if (columns[6] != "unchanged")
                fact.after = SplitOn(columns[6], " ");
            if ((fact.exitCode == 0) == fact.after.empty() || (!fact.after.empty() && fact.after.size() != 3))
                throw std::runtime_error("CommandFacts.txt:" + std::to_string(row.line) + ": a bad after column");
            rows.push_back(fact);
        }
        return rows;
    }();
    return facts;
}

// The limits "-G" prints, as min, max and flags.
inline std::vector<std::string> LimitsOf(const std::string &getOutput)
{
    std::smatch match;
    if (!std::regex_search(getOutput, match, std::regex(SuccessPattern)))
        return {};
    return {match[2].str(), match[3].str(), match[4].str()};
}

// Checks one fact on a system: system.Write(state) sets its state,
// system.RunAgain(args) runs a command line on it as it is, and system.State()
// reads the state back.
template <typename System> void ExpectCommandFact(System &system, const CommandFact &fact)
{
    SCOPED_TRACE(fact.rule + ": " + Describe(fact.args) + " on " + Visible(fact.state));
    system.Write(fact.state);
    const std::string stateBefore = system.State();
    // The limits before it, where the answer or the limits after it name them.
    std::vector<std::string> before;
    if (fact.exitCode == 0 && (fact.answer.find('{') != std::string::npos || fact.after[0] == "=" ||
                               fact.after[1] == "=" || fact.after[2] == "=")) {
        before = LimitsOf(system.RunAgain({"-G"}).out);
        ASSERT_EQ(3u, before.size()) << "-G before it failed";
    }
    ToolResult result = system.RunAgain(fact.args);
    EXPECT_EQ(fact.exitCode, result.exitCode);
    if (fact.exitCode == 0) {
        std::string line = std::regex_replace(fact.answer, std::regex("\\{min\\}"), before.empty() ? "" : before[0]);
        line = std::regex_replace(line, std::regex("\\{max\\}"), before.empty() ? "" : before[1]);
        EXPECT_TRUE(Matches(AsWritten(line + "\n"), result.out));
        std::vector<std::string> expected = fact.after;
        for (size_t i = 0; i < 3; i++)
            if (expected[i] == "=")
                expected[i] = before[i];
        EXPECT_EQ(expected, LimitsOf(system.RunAgain({"-G"}).out)) << "min, max and flags that -G reads after it";
    } else {
        std::smatch call;
        if (fact.exitCode == 1 && std::regex_match(fact.answer, call, std::regex("([A-Za-z]+)\\(([0-9]+)\\)"))) {
            // The system's text ends in its own CR LF, and the line in one more.
            EXPECT_TRUE(Matches(
                AsWritten(Report("main.cpp", call[1].str(), std::stoi(call[2].str()), AnyText + "\r\n")), result.out));
        } else {
            EXPECT_EQ(255, fact.exitCode) << "an answer that is not a call and code: " << fact.answer;
            EXPECT_EQ(AsWritten(fact.answer + "\n" + Usage), result.out);
        }
        EXPECT_EQ(stateBefore, system.State()) << "a refused command line changed the system";
    }
}

// Checks the facts for the build under test on a system (as ExpectCommandFact):
// every fact of its width, or with widthBound false only those of any width.
template <typename System> void ExpectCommandFacts(System &system, bool widthBound = true)
{
    int checked = 0;
    for (const CommandFact &fact : CommandFacts()) {
        if ((fact.bits != 0 && (!widthBound || fact.bits != g_tool.sizeBits)))
            continue;
        checked++;
        ExpectCommandFact(system, fact);
    }
    EXPECT_NE(0, checked) << "no fact for a " << g_tool.sizeBits << "-bit program";
}

// A fact's rule as a test name: "the 32-bit program on ..." is The32BitProgramOn...
inline std::string TestName(const std::string &rule)
{
    std::string name;
    bool upper = true;
    for (char c : rule) {
        if (isalnum((unsigned char)c)) {
            name += upper ? (char)toupper((unsigned char)c) : c;
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}
