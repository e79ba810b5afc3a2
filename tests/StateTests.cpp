// VelmoraState on the simulated system: the table of wanted states
// (state/WantedStates.txt), and what lies beside it: the command line, what get
// reads, and the calls the system sees.

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "SimulatedSystemTest.h"
#include "state/WantedStates.h"
#include "ToolRun.h"

namespace {

class StateSim : public SimulatedSystemTest {
public:
    void SetUp() override
    {
        ASSERT_FALSE(g_tool.stateExe.empty()) << "--state-exe names no program";
        SimulatedSystemTest::SetUp();
    }

    ToolResult Run(const std::vector<std::string> &args, const ToolInput &input = ToolInput())
    {
        return RunOn(g_tool.stateExe, args, input);
    }

    // The calls of the last run whose name starts with the text.
    std::vector<std::string> Calls(const std::string &name) const
    {
        std::vector<std::string> calls;
        for (const std::string &line : Log())
            if (line.compare(0, name.size(), name) == 0)
                calls.push_back(line);
        return calls;
    }
    int SetCalls() const { return (int)Calls("SetSystemFileCacheSize").size(); }
};

TEST_F(StateSim, EveryWantedStateAsTheTableSays)
{
    int checked = 0;
    for (const WantedStateCase &c : WantedStateCases()) {
        if (c.bits != 0 && c.bits != g_tool.sizeBits)
            continue;
        checked++;
        ExpectWantedStateCase(*this, c);
    }
    EXPECT_LT(40, checked);
}

// get reports what is in force without a wanted state: with no input, with an
// empty line, and with a console that nobody types at, which it never reads.
TEST_F(StateSim, GetNeedsNoWantedState)
{
    const std::string state = "min=268435456\nmax=2147483648\nflags=5\n";
    ToolInput terminal;
    terminal.kind = ToolInput::Terminal;
    for (const ToolInput &input : {ToolInput(), PipedText(""), PipedText("\r\n"), PipedText("\xEF\xBB\xBF"), terminal}) {
        Write(state);
        ToolResult get = Run({"get"}, input);
        EXPECT_EQ(0, get.exitCode) << Visible(get.err);
        EXPECT_EQ("{\"hardLimits\":true,\"minimumMB\":256,\"maximumMB\":2048,\"minimumBytes\":268435456,"
                  "\"maximumBytes\":2147483648,\"flags\":5}\n",
                  get.out);
        EXPECT_EQ("", get.err);
    }
}

// The state shows the limits in the wanted state's own terms: a share as asked
// where the size in force is what it gives, MB where the size is whole, null
// for one hard limit alone, no sizes with both off.
TEST_F(StateSim, GetShowsTheStateInTheWantedStatesTerms)
{
    const struct {
        std::string state, wanted, out;
    } cases[] = {
        {"memory=8589934592\nmin=134217728\nmax=1073741824\nflags=5\n",
         "{\"minimumPercent\":1.5625,\"maximumPercent\":12.5}",
         "{\"hardLimits\":true,\"minimumPercent\":1.5625,\"maximumPercent\":12.5,\"minimumBytes\":134217728,"
         "\"maximumBytes\":1073741824,\"flags\":5}\n"},
        {"memory=8589934592\nmin=134217728\nmax=2147483648\nflags=5\n",
         "{\"minimumPercent\":1.5625,\"maximumPercent\":12.5}",
         "{\"hardLimits\":true,\"minimumPercent\":1.5625,\"maximumMB\":2048,\"minimumBytes\":134217728,"
         "\"maximumBytes\":2147483648,\"flags\":5}\n"},
        {"memory=8589934592\nmin=81920\nmax=2147483648\nflags=4\n", "{}",
         "{\"hardLimits\":null,\"maximumMB\":2048,\"minimumBytes\":81920,\"maximumBytes\":2147483648,\"flags\":4}\n"},
        {"min=268435456\nmax=2147483648\nflags=0\n", "{\"minimumMB\":256,\"maximumMB\":2048}",
         "{\"hardLimits\":false,\"minimumBytes\":268435456,\"maximumBytes\":2147483648,\"flags\":0}\n"},
        {"fail.GlobalMemoryStatusEx=5\nmin=134217728\nmax=1073741824\nflags=5\n", "{\"minimumPercent\":25}",
         "{\"hardLimits\":true,\"minimumMB\":128,\"maximumMB\":1024,\"minimumBytes\":134217728,"
         "\"maximumBytes\":1073741824,\"flags\":5}\n"},
    };
    for (const auto &c : cases) {
        Write(c.state);
        ToolResult get = Run({"get"}, PipedText(c.wanted));
        EXPECT_EQ(0, get.exitCode) << c.wanted;
        EXPECT_EQ(c.out, get.out) << c.wanted;
    }
}

// Anything but one of the four operations is refused before anything is read.
TEST_F(StateSim, TheCommandLineNamesOneOperation)
{
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {}, {"Get"}, {"get", "extra"}, {"--help"}, {"apply"}, {""}, {"set", "--allow-above-memory"},
             {"resolve", "--allow-above-memory", "x"}}) {
        Write("");
        ToolResult result = Run(args, PipedText("{\"hardLimits\":false}"));
        EXPECT_EQ(1, result.exitCode) << Describe(args);
        EXPECT_EQ("", result.out) << Describe(args);
        EXPECT_NE(std::string::npos, result.err.find("{\"error\":\"usage: VelmoraState get|test|set|resolve"))
            << Visible(result.err);
        EXPECT_TRUE(Calls("GetSystemFileCacheSize").empty()) << Describe(args);
    }
}

// test, set and resolve need a wanted state, and never wait for one at a console.
TEST_F(StateSim, ChangesNeedAWantedState)
{
    ToolInput terminal;
    terminal.kind = ToolInput::Terminal;
    for (const char *operation : {"test", "set", "resolve"}) {
        for (const ToolInput &input : {ToolInput(), PipedText(" \n"), terminal}) {
            Write("");
            ToolResult result = Run({operation}, input);
            EXPECT_EQ(1, result.exitCode) << operation;
            EXPECT_NE(std::string::npos, result.err.find("no wanted state on standard input")) << Visible(result.err);
            EXPECT_EQ("", State()) << operation;
        }
    }
}

// resolve takes a maximum above memory where it is asked to, and nothing else
// that it would refuse.
TEST_F(StateSim, ResolveMayAllowAMaximumAboveMemory)
{
    Write("memory=2147483648\n");
    const ToolInput above = PipedText("{\"minimumMB\":256,\"maximumMB\":2049}");
    EXPECT_EQ(2, Run({"resolve"}, above).exitCode);
    ToolResult allowed = Run({"resolve", "--allow-above-memory"}, above);
    EXPECT_EQ(0, allowed.exitCode) << Visible(allowed.err);
    EXPECT_EQ("{\"hardLimits\":true,\"minimumMB\":256,\"maximumMB\":2049}\n", allowed.out);
    EXPECT_EQ(2, Run({"resolve", "--allow-above-memory"}, PipedText("{\"minimumMB\":256,\"maximumMB\":16}")).exitCode);
}

// Input that no parser should choke on ends as input not valid, with a message
// that is itself valid JSON, and never as a crash.
TEST_F(StateSim, OddInputIsRefusedCleanly)
{
    const std::string deep = std::string(30000, '[') + std::string(30000, ']');
    const std::string nested = "{\"minimumMB\":" + std::string(30000, '[') + std::string(30000, ']') + "}";
    for (const std::string &input : {std::string("{\"\xff\xfe\":1}"), std::string("{\"minimumMB\":256\0}", 16),
                                     std::string("{\"minimumMB\":"), std::string("{\"a\":\"\\ud800\"}"), deep,
                                     nested, std::string("{} {}"), std::string("\xEF\xBB{}"),
                                     std::string("{\"minimumPercent\":1" + std::string(400, '0') + "}")}) {
        Write("");
        ToolResult result = Run({"test"}, PipedText(input));
        SCOPED_TRACE(Visible(input.substr(0, 40)));
        EXPECT_EQ(1, result.exitCode);
        EXPECT_EQ("", result.out);
        std::vector<std::string> levels;
        EXPECT_TRUE(MessageLevels(result.err, &levels));
        EXPECT_EQ(std::vector<std::string>{"error"}, levels);
    }
}

// A byte order mark, white space and line ends around the object are taken.
TEST_F(StateSim, TheInputMayHaveAByteOrderMark)
{
    Write("");
    ToolResult set = Run({"set"}, PipedText("\xEF\xBB\xBF {\"minimumMB\":256,\"maximumMB\":512}\r\n"));
    EXPECT_EQ(0, set.exitCode) << Visible(set.err);
    EXPECT_EQ("268435456", StateValue(State(), "min"));
}

// The calls of a set: the limits read, the memory read for the check, the
// privilege step with its token closed before the write, one write, one read back.
TEST_F(StateSim, SetReadsThenWritesOnceAndReadsBack)
{
    Write("memory=8589934592\n");
    ToolResult set = Run({"set"}, PipedText("{\"minimumMB\":256,\"maximumMB\":2048}"));
    ASSERT_EQ(0, set.exitCode) << Visible(set.err);
    std::vector<std::string> calls;
    for (const std::string &line : Log())
        for (const char *name : {"GlobalMemoryStatusEx", "GetSystemFileCacheSize", "OpenProcessToken", "CloseHandle",
                                 "SetSystemFileCacheSize", "Leaked", "ExitProcess"})
            if (line.compare(0, strlen(name), name) == 0)
                calls.push_back(line);
    EXPECT_EQ((std::vector<std::string>{"GlobalMemoryStatusEx", "GetSystemFileCacheSize", "OpenProcessToken 40",
                                        "CloseHandle", "SetSystemFileCacheSize 268435456 2147483648 5",
                                        "GetSystemFileCacheSize", "ExitProcess 0"}),
              calls);
}

// A refusal of the system is an error message that holds the report line.
TEST_F(StateSim, TheSystemsRefusalCarriesTheReportLine)
{
    Write("memory=8589934592\nfail.SetSystemFileCacheSize=87\n");
    ToolResult set = Run({"set"}, PipedText("{\"minimumMB\":256,\"maximumMB\":2048}"));
    EXPECT_EQ(4, set.exitCode);
    EXPECT_TRUE(std::regex_search(set.err, std::regex("^\\{\"error\":\"the system refused the change, and nothing was "
                                                      "changed: VelmoraState\\.cpp:[0-9]+: SetSystemFileCacheSize\\(87\\): "
                                                      "The parameter is incorrect\\.\"\\}\n$")))
        << Visible(set.err);
}

} // namespace
