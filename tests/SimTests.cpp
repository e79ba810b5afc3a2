// Velmora on the simulated system: the command-line cases of cli/ (every row
// sets the system's state, runs one command line, and checks the exact output,
// the exit code, the calls the system saw and what it holds afterwards), and the
// checks that span runs or read the system's log more closely.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <regex>

#include <string.h>

#include "cli/CommandFacts.h"
#include "cli/SimulatedSystem.h"
#include "SimulatedSystemTest.h"
#include "ToolRun.h"

namespace {

// The calls whose presence, order and arguments are the tool's behaviour: the
// token's opening and closing, the cache calls, leaks and the exit. What a
// report line calls on its way to the same bytes is its own business.
bool IsBehaviour(const std::string &call)
{
    for (const char *name : {"OpenProcessToken", "CloseHandle", "GetSystemFileCacheSize", "SetSystemFileCacheSize",
                             "Leaked", "ExitProcess"})
        if (call.compare(0, strlen(name), name) == 0)
            return true;
    return false;
}

class SimTest : public SimulatedSystemTest {
public:
    // Runs one command line on a system in the given state; the log starts empty.
    ToolResult Run(const std::vector<std::string> &args, const std::string &state = "")
    {
        Write(state);
        return RunAgain(args);
    }

    // Runs one more command line on the system as the last run left it.
    ToolResult RunAgain(const std::vector<std::string> &args) { return RunOn("", args); }

    // The calls that are the tool's behaviour, in order.
    std::vector<std::string> Calls() const
    {
        std::vector<std::string> calls;
        for (const std::string &line : Log())
            if (IsBehaviour(line))
                calls.push_back(line);
        return calls;
    }
};

// One row of the table of cli/SimulatedSystem.h, as a test of its own
// (SimTest.<its rule in CamelCase>): the system in the row's state, one command
// line, then the exact output, the exit code, the calls the system saw and what
// it holds afterwards.
class SimRow : public SimTest {
public:
    explicit SimRow(SimCase c) : c_(std::move(c)) {}

    void TestBody() override
    {
        SCOPED_TRACE(Describe(c_.args) + " on " + Visible(c_.state));
        ToolResult result = Run(c_.args, c_.state);
        EXPECT_TRUE(Matches(c_.out, result.out));
        EXPECT_EQ(c_.exitCode, result.exitCode);
        EXPECT_EQ("", result.err);
        EXPECT_EQ(c_.calls, Calls());
        if (c_.after.empty()) {
            EXPECT_EQ(c_.state, State()) << "the system changed";
        } else {
            for (const char *key : {"min", "max", "flags"}) {
                if (StateValue(c_.after, key) != "(none)") {
                    EXPECT_EQ(StateValue(c_.after, key), StateValue(State(), key)) << key << " afterwards";
                }
            }
        }
    }

private:
    SimCase c_;
};

// ---------------------------------------------------------------------------
// The tables of cli/

TEST_F(SimTest, TheSystemJudgesTheSizesAsWindowsDoes)
{
    ExpectCommandFacts(*this);
}

// Sites that print the same call are told apart by their line: each site
// reports one call, and Get and Clear each read the limits from a site of their own.
TEST_F(SimTest, EveryReportSiteHasALineOfItsOwn)
{
    std::map<std::string, std::string> callAt; // "unit:line" -> the call reported there
    const std::regex report(ReportPattern);
    for (const SimCase &c : SimulatedSystemCases()) {
        if (c.exitCode != 1 || (c.bits != 0 && c.bits != g_tool.sizeBits))
            continue;
        ToolResult result = Run(c.args, c.state);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(result.out, match, report)) << c.rule << ": " << Visible(result.out);
        const std::string site = match[1].str() + ":" + match[2].str();
        std::string call = match[3].str();
        if (call == "GetSystemFileCacheSize")
            call += c.args[0].compare(0, 2, "-G") == 0 ? " of Get" : " of Clear";
        auto known = callAt.emplace(site, call).first;
        EXPECT_EQ(known->second, call) << c.rule << ": two calls report from " << site;
    }
    // OpenProcessToken; LookupPrivilegeValue; AdjustTokenPrivileges failing, and
    // succeeding without the privilege; the reads of Get and of Clear; the writes
    // of Clear and of Set.
    EXPECT_EQ(8u, callAt.size());
}

TEST_F(SimTest, TheSystemTextIsConvertedToTheReadersCodePage)
{
    // With a console, its output code page; without one (pipes), the OEM code page (CP_OEMCP, 1).
    const struct {
        std::string state;
        std::string codePage;
    } cases[] = {
        {"", "1"}, {"console=0\n", "1"}, {"console=850\n", "850"}, {"console=866\n", "866"}, {"console=65001\n", "65001"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.state);
        ToolResult result = Run({"-G"}, c.state + "fail.GetSystemFileCacheSize=5\n");
        EXPECT_TRUE(Matches(Report("main.cpp", "GetSystemFileCacheSize", 5, "Access is denied.\r\n"), result.out));
        EXPECT_EQ(1, result.exitCode);
        std::vector<std::string> conversions;
        for (const std::string &line : Log())
            if (line.rfind("WideCharToMultiByte ", 0) == 0)
                conversions.push_back(line.substr(strlen("WideCharToMultiByte ")));
        EXPECT_FALSE(conversions.empty()) << "the text was never converted";
        for (const std::string &codePage : conversions)
            EXPECT_EQ(c.codePage, codePage) << "the text was converted to another code page";
    }
}

// The model refuses every bad state file (sim/model), with the simulated
// system's own keys judged as this system judges them; here, that the simulated
// system ends the run before Velmora starts, with one line on standard error.
TEST_F(SimTest, ABrokenStateFileIsTheSimulatorsExitNotTheTools)
{
    const struct {
        std::string state, why;
    } broken[] = {
        {"colour=blue\n", "unknown key \"colour\""},
        {"privilege=maybe\n", "privilege is held or missing, got \"maybe\""},
        {"console=70000\n", "console needs a code page, or 0, got \"70000\""},
        {"console=-1\n", "console needs a code page, or 0, got \"-1\""},
        {"fail.ExitProcess=5\n", "unknown key \"fail.ExitProcess\""},
    };
    for (const auto &b : broken) {
        ToolResult result = Run({"-G"}, b.state);
        EXPECT_EQ(2, result.exitCode) << b.state;
        EXPECT_EQ("", result.out) << b.state;
        EXPECT_EQ("velmora-sim: " + statePath_ + ": line 1: " + b.why + "\n", result.err);
        EXPECT_EQ(std::vector<std::string>{}, Log()) << b.state << ": Velmora ran";
    }
}

TEST_F(SimTest, TheNextRunReadsWhatThisOneApplied)
{
    ToolResult set = Run({"-S", "100", "200"});
    ASSERT_EQ(0, set.exitCode) << Visible(set.out);
    ToolResult get = RunAgain({"-G"});
    EXPECT_TRUE(Matches(GetLine("104857600", "209715200", 5), get.out));
}

// ---------------------------------------------------------------------------
// Random command lines: whatever comes in, the answer is one of the tool's forms.

TEST_F(SimTest, RandomCommandLinesAlwaysGetOneOfTheToolsAnswers)
{
    const std::vector<std::string> pool = {
        "-G", "-C", "-S", "-Gx", "-Sx", "-Cx", "-g", "-", "", " ", "0", "1", "15", "16", "100", "4094", "4095", "4096",
        "-1", "-0", "+0", "+4095", "2147483647", "2147483648", "4294967296", "99999999999999999999", "abc",
        "17592186044415", "17592186044416", "18446744073709551615",
        "12abc", " 7 ", "\t", "%s", "%n", "\xff\xfe", "1e3", "0x10", "--", "-S -G",
    };
    const std::vector<std::string> states = {
        "",
        "privilege=missing\n",
        "min=4294963200\nmax=0\nflags=5\n",
        "system=x64\nmin=4294967296\nmax=18446744073709547520\nflags=1\n",
        "available=0\nlargest=16777216\n",
        "fail.SetSystemFileCacheSize=1314\n",
        "fail.FormatMessageW=8\nfail.GetSystemFileCacheSize=4242\n",
    };
    const std::regex answer(SuccessPattern + "\n" +
                            "|(Invalid size: \\[[^\n]*\\] \\(0 to " + MaxSizeMB() + " MB\\)\n)?" + RegexEscape(Usage) +
                            "|" + ReportPattern + "[^\n]*\n\n?");
    std::mt19937 random(20261208);
    for (int round = 0; round < 400; round++) {
        std::vector<std::string> args(std::uniform_int_distribution<size_t>(0, 5)(random));
        for (std::string &arg : args)
            arg = pool[std::uniform_int_distribution<size_t>(0, pool.size() - 1)(random)];
        if (!args.empty() && round % 2 == 0)
            args[0] = pool[std::uniform_int_distribution<size_t>(0, 2)(random)];
        const std::string &state = states[std::uniform_int_distribution<size_t>(0, states.size() - 1)(random)];
        ToolResult result = Run(args, state);
        EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1 || result.exitCode == 255)
            << Describe(args) << " exited " << result.exitCode << "\n" << result.err;
        EXPECT_TRUE(std::regex_match(result.out, answer))
            << Describe(args) << " printed " << Visible(result.out) << ", none of the tool's answers";
        EXPECT_EQ("", result.err) << Describe(args);
        std::vector<std::string> log = Log();
        ASSERT_FALSE(log.empty()) << Describe(args);
        EXPECT_EQ("ExitProcess " + std::to_string(result.exitCode), log.back()) << Describe(args);
        EXPECT_EQ(log.end(), std::find_if(log.begin(), log.end(),
                                          [](const std::string &line) { return line.rfind("Leaked", 0) == 0; }))
            << Describe(args);
        // No cache call while the token is open.
        bool tokenOpen = false;
        for (const std::string &call : Calls()) {
            if (call.rfind("OpenProcessToken", 0) == 0)
                tokenOpen = true;
            else if (call == "CloseHandle")
                tokenOpen = false;
            else if (call.find("SystemFileCacheSize") != std::string::npos) {
                EXPECT_FALSE(tokenOpen) << Describe(args) << ": " << call << " with the token open";
            }
        }
    }
}

} // namespace

void RegisterSimulatedSystemRows()
{
    RegisterRows<SimTest>("SimTest", SimulatedSystemCases(), [](const SimCase &c) { return new SimRow(c); });
}
