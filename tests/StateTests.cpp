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

// One row of state/WantedStates.txt, as a test of its own (StateSim.<its rule
// in CamelCase>).
class StateRow : public StateSim {
public:
    explicit StateRow(WantedStateCase c) : c_(std::move(c)) {}
    void TestBody() override { ExpectWantedStateCase(*this, c_); }

private:
    WantedStateCase c_;
};

// The rows are tests of their own: a table that reads as almost empty is a fault
// of its own.
TEST_F(StateSim, TheTableOfWantedStatesHasItsRows)
{
    int rows = 0;
    for (const WantedStateCase &c : WantedStateCases())
        rows += c.bits == 0 || c.bits == g_tool.sizeBits;
    EXPECT_LT(40, rows);
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

// Anything but one of the operations, with the options it takes, is refused before anything is read.
TEST_F(StateSim, TheCommandLineNamesOneOperation)
{
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {}, {"Get"}, {"get", "extra"}, {"--help"}, {"apply"}, {""}, {"get", "--allow-above-memory"},
             {"resolve", "--allow-above-memory", "x"}, {"test", "--event-log"}, {"set", "--minimum", "256MB"},
             {"set", "--maximum"}, {"set", "--event-log", "--event-log"},
             {"set", "--minimum", "256MB", "--maximum", "2048MB", "--minimum", "256MB"}}) {
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

// The wanted state on the command line, "--minimum 256MB --maximum 12.5%", is
// the JSON object it stands for: each table case that such flags can say gives
// the same exit code and leaves the same state from either.
TEST_F(StateSim, FlagsMeanWhatTheirJsonMeans)
{
    int checked = 0;
    for (const WantedStateCase &c : WantedStateCases()) {
        if (c.bits != 0 && c.bits != g_tool.sizeBits)
            continue;
        nlohmann::ordered_json wanted = nlohmann::ordered_json::parse(c.wanted, nullptr, false);
        // Only JSON as its flags would say it: numbers as written, each name once.
        if (!wanted.is_object() || wanted.dump() != c.wanted ||
            (wanted.contains("hardLimits") && wanted["hardLimits"] != true))
            continue;
        std::vector<std::string> flags = {"set"};
        for (const char *limit : {"minimum", "maximum"}) {
            std::string mb = std::string(limit) + "MB";
            std::string percent = std::string(limit) + "Percent";
            if (wanted.contains(mb) && !wanted.contains(percent) && wanted[mb].is_number_unsigned())
                flags.insert(flags.end(), {std::string("--") + limit, wanted[mb].dump() + "MB"});
            else if (wanted.contains(percent) && !wanted.contains(mb) && wanted[percent].is_number() &&
                     wanted[percent].dump().find_first_of("eE") == std::string::npos)
                flags.insert(flags.end(), {std::string("--") + limit, wanted[percent].dump() + "%"});
        }
        if (flags.size() != 5 || wanted.size() != 2 + (wanted.contains("hardLimits") ? 1 : 0))
            continue;
        SCOPED_TRACE(c.rule + ": " + Describe(flags));
        checked++;
        Write(c.state);
        ToolResult fromJson = Run({"set"}, PipedText(c.wanted));
        std::string afterJson = State();
        Write(c.state);
        ToolResult fromFlags = Run(flags);
        EXPECT_EQ(fromJson.exitCode, fromFlags.exitCode) << Visible(fromFlags.err);
        EXPECT_EQ(afterJson, State());
        EXPECT_EQ(fromJson.out, fromFlags.out);
    }
    EXPECT_LT(20, checked);
}

// What flags say, as wanted prints it without a call to the system; and flags
// that are no size, refused before anything is read.
TEST_F(StateSim, WantedPrintsWhatTheFlagsSay)
{
    const struct {
        const char *minimum, *maximum, *out;
    } cases[] = {
        {"256MB", "2048MB", "{\"hardLimits\":true,\"minimumMB\":256,\"maximumMB\":2048}\n"},
        {"2%", "12.5%", "{\"hardLimits\":true,\"minimumPercent\":2,\"maximumPercent\":12.5}\n"},
        {"1MB", "99.9999%", "{\"hardLimits\":true,\"minimumMB\":1,\"maximumPercent\":99.9999}\n"},
        {"0.0001%", "100%", "{\"hardLimits\":true,\"minimumPercent\":0.0001,\"maximumPercent\":100}\n"},
    };
    for (const auto &c : cases) {
        Write("");
        ToolResult wanted = Run({"wanted", "--minimum", c.minimum, "--maximum", c.maximum, "--event-log"});
        EXPECT_EQ(0, wanted.exitCode) << Visible(wanted.err);
        EXPECT_EQ(c.out, wanted.out);
        EXPECT_EQ((std::vector<std::string>{"ExitProcess 0"}), Log()) << "wanted reads nothing of the system";
    }
    for (const char *size : {"256", "256mb", "MB", "%", "1.5MB", "12.5", ".5%", "5.%", "1e2%", "-1MB", "+1MB",
                             "0MB", "0%", "100.00001%", "101%", "256MB ", " 256MB", "0x10MB",
                             "256MB%", "1,5%"}) {
        Write("");
        ToolResult set = Run({"set", "--minimum", size, "--maximum", "2048MB"});
        EXPECT_EQ(1, set.exitCode) << size;
        EXPECT_EQ("", set.out) << size;
        EXPECT_TRUE(Calls("GetSystemFileCacheSize").empty()) << size;
        EXPECT_EQ("", State()) << size;
    }
}

// The events of the startup task's runs (set --event-log), as the event log
// holds them: one for the run, and a warning before it where the memory check
// was skipped; the exit code as without events. Inserts are matched as patterns.
TEST_F(StateSim, EachRunOfTheTaskWritesItsEvent)
{
    const std::string bytes = "268435456 and 2147483648 bytes";
    const std::string command = "set --minimum 256MB --maximum 2048MB --event-log";
    const struct {
        const char *why;
        std::string state;
        std::vector<std::string> flags;
        int exitCode;
        std::vector<std::string> events;
    } cases[] = {
        {"changed", "memory=8589934592\n", {}, 0,
         {"type 4 category 0 id 0x40000001: 1048576 and [0-9]+ bytes, flags 0 \\| " + bytes + ", flags 5 \\| " + command}},
        {"in place", "memory=8589934592\nmin=268435456\nmax=2147483648\nflags=5\n", {}, 0,
         {"type 4 category 0 id 0x40000005: " + bytes + ", flags 5 \\| " + command}},
        {"refused by the system", "memory=8589934592\nfail.SetSystemFileCacheSize=87\n", {}, 4,
         {"type 1 category 0 id 0xc0000002: " + bytes + " with both hard limits on \\| VelmoraState\\.cpp:[0-9]+: "
          "SetSystemFileCacheSize\\(87\\): The parameter is incorrect\\. \\| " + command}},
        {"a wanted state that cannot hold", "memory=8589934592\n", {"--minimum", "2048MB", "--maximum", "256MB"}, 2,
         {"type 1 category 0 id 0xc0000003: .*minimum.* \\| set --minimum 2048MB --maximum 256MB --event-log"}},
        {"a share with no memory to read", "fail.GlobalMemoryStatusEx=5\n", {"--minimum", "2%", "--maximum", "25%"}, 3,
         {"type 1 category 0 id 0xc0000004: the physical memory could not be read, so minimumPercent 2 cannot be worked "
          "out: VelmoraState\\.cpp:[0-9]+: GlobalMemoryStatusEx\\(5\\): Access is denied\\. \\| "
          "set --minimum 2% --maximum 25% --event-log"}},
        {"fixed sizes with no memory to read", "fail.GlobalMemoryStatusEx=5\n", {}, 0,
         {"type 2 category 0 id 0x80000006: VelmoraState\\.cpp:[0-9]+: GlobalMemoryStatusEx\\(5\\): Access is "
          "denied\\. \\| " + command,
          "type 4 category 0 id 0x40000001: .*"}},
        {"no privilege", "memory=8589934592\nprivilege=missing\n", {}, 4,
         {"type 1 category 0 id 0xc0000004: nothing was changed: changing the limits needs SeIncreaseQuotaPrivilege.*"}},
        {"the limits unreadable", "memory=8589934592\nfail.GetSystemFileCacheSize=5\n", {}, 4,
         {"type 1 category 0 id 0xc0000004: the limits in force could not be read: .*GetSystemFileCacheSize\\(5\\).*"}},
        {"held lower by the system", "memory=8589934592\nmin=268435456\nmax=1073741824\nflags=5\nlargest=1073741824\n",
         {}, 0,
         {"type 2 category 0 id 0x80000007: 268435456 and 1073741824 bytes, flags 5 \\| " + bytes +
          " with both hard limits on \\| " + command}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<std::string> args = {"set", "--minimum", "256MB", "--maximum", "2048MB"};
        if (!c.flags.empty())
            args = {"set", c.flags[0], c.flags[1], c.flags[2], c.flags[3]};
        args.push_back("--event-log");
        Write(c.state);
        ToolResult run = Run(args);
        EXPECT_EQ(c.exitCode, run.exitCode) << Visible(run.err);
        std::vector<std::string> events = Calls("ReportEventW");
        ASSERT_EQ(c.events.size(), events.size()) << Visible(run.err);
        for (size_t index = 0; index < events.size(); index++)
            EXPECT_TRUE(std::regex_match(events[index], std::regex("ReportEventW " + c.events[index])))
                << "expected: " << c.events[index] << "\ngot:      " << events[index];
        EXPECT_TRUE(Calls("Leaked").empty()) << "the event source is closed again";
        // Without the option, the same run writes nothing to the event log.
        Write(c.state);
        EXPECT_EQ(c.exitCode, Run(std::vector<std::string>(args.begin(), args.end() - 1)).exitCode);
        EXPECT_TRUE(Calls("RegisterEventSourceW").empty());
    }
}

// An event log that cannot be written to is a warning: the run's change and
// its exit code stand.
TEST_F(StateSim, AnEventThatCannotBeWrittenFailsNothing)
{
    for (const char *failing : {"RegisterEventSourceW", "ReportEventW"}) {
        Write(std::string("memory=8589934592\nfail.") + failing + "=1502\n");
        ToolResult run = Run({"set", "--minimum", "256MB", "--maximum", "2048MB", "--event-log"});
        EXPECT_EQ(0, run.exitCode) << failing;
        EXPECT_EQ("268435456", StateValue(State(), "min")) << failing;
        EXPECT_NE(std::string::npos, run.err.find("{\"warn\":\"the event could not be written: VelmoraState.cpp:"))
            << Visible(run.err);
        EXPECT_TRUE(Calls("Leaked").empty()) << failing;
    }
}

} // namespace

void RegisterWantedStateRows()
{
    RegisterRows<StateSim>("StateSim", WantedStateCases(), [](const WantedStateCase &c) { return new StateRow(c); });
}
