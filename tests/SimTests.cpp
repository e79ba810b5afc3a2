// Velmora on the simulated system: each case sets the system's state, runs one
// command line, and checks the exact output, the exit code, and the calls the
// system saw.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>

#include <string.h>

#include "CommandFacts.h"
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

// The calls of the privilege step, as the system sees them: the token is opened
// with TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY and closed before any cache call.
const std::vector<std::string> PrivilegeStep = {"OpenProcessToken 40", "CloseHandle"};

std::vector<std::string> Join(std::vector<std::string> head, const std::vector<std::string> &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class SimTest : public testing::Test {
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

    // Runs one command line on a system in the given state, whose token holds
    // the privilege unless the state says otherwise; the log starts empty.
    ToolResult Run(const std::vector<std::string> &args, const std::string &state = "")
    {
        Write(state);
        return RunAgain(args);
    }

    void Write(const std::string &state)
    {
        WriteFile(statePath_, state.find("privilege=") == std::string::npos ? state + "privilege=held\n" : state);
    }

    // Runs one more command line on the system as the last run left it.
    ToolResult RunAgain(const std::vector<std::string> &args)
    {
        remove(logPath_.c_str());
        return RunTool(args, {{"VELMORA_SIM_STATE", statePath_}, {"VELMORA_SIM_LOG", logPath_}});
    }

    // Every call the system saw.
    std::vector<std::string> Log() const { return ReadLines(logPath_); }
    // The calls that are the tool's behaviour, in order.
    std::vector<std::string> Calls() const
    {
        std::vector<std::string> calls;
        for (const std::string &line : Log())
            if (IsBehaviour(line))
                calls.push_back(line);
        return calls;
    }
    std::string State() const { return ReadFile(statePath_); }

    std::string dir_;
    std::string statePath_;
    std::string logPath_;
};

// ---------------------------------------------------------------------------
// Command line

TEST_F(SimTest, RefusedCommandLinesPrintUsageAndTouchNothing)
{
    const std::vector<std::vector<std::string>> refused = {
        {},          {"-G", "x"},      {"-S", "1"},      {"-S", "1", "2", "3"}, {"-G", "1", "2", "3", "4"},
        {"-g"},      {"-s", "1", "2"}, {"-c"},           {"-"},                 {"G"},
        {""},        {"-S"},           {"-Sfoo"},        {"-x", "1", "2"},      {"S", "1", "2"},
        {"--G"},     {" -G"},          {"/G"},
    };
    for (const auto &args : refused) {
        ToolResult result = Run(args);
        EXPECT_EQ(Usage, result.out) << Describe(args);
        EXPECT_EQ(255, result.exitCode) << Describe(args);
        EXPECT_EQ("", result.err) << Describe(args);
        EXPECT_EQ(std::vector<std::string>{"ExitProcess 255"}, Log()) << Describe(args);
    }
}

TEST_F(SimTest, OnlyTheFirstTwoCharactersSelectTheMode)
{
    const std::string state = "min=2097152\nmax=67108864\nflags=4\n";
    const std::string get = "Success: GetSystemFileCacheSize(Min:[2097152], Max:[67108864], Flags: 4)\n";
    const std::string clear = "Success: SetSystemFileCacheSize(Min:[2097152], Max:[67108864], Flags: 10)\n";
    const std::vector<std::string> getCalls = {"GetSystemFileCacheSize", "ExitProcess 0"};
    const std::vector<std::string> clearCalls = Join(
        PrivilegeStep, {"GetSystemFileCacheSize", "SetSystemFileCacheSize 2097152 67108864 10", "ExitProcess 0"});
    const struct {
        std::vector<std::string> args;
        std::string out;
        std::vector<std::string> calls;
    } cases[] = {
        {{"-Gx"}, get, getCalls},
        {{"-Get"}, get, getCalls},
        {{"-G", "1", "2"}, get, getCalls},
        {{"-G", "abc", "x"}, get, getCalls},
        {{"-Clear"}, clear, clearCalls},
        {{"-C", "1", "2"}, clear, clearCalls},
        {{"-Sfoo", "1", "64"}, "Success: SetSystemFileCacheSize(Min:[1048576], Max:[67108864], Flags: 5)\n",
         Join(PrivilegeStep, {"SetSystemFileCacheSize 1048576 67108864 5", "ExitProcess 0"})},
    };
    for (const auto &c : cases) {
        ToolResult result = Run(c.args, state);
        EXPECT_EQ(c.out, result.out) << Describe(c.args);
        EXPECT_EQ(0, result.exitCode) << Describe(c.args);
        EXPECT_EQ(c.calls, Calls()) << Describe(c.args);
    }
}

// ---------------------------------------------------------------------------
// Get

TEST_F(SimTest, GetPrintsTheLimitsAsTheSystemGivesThem)
{
    // An untouched system of the build's width: x86 for the 32-bit program, x64 for the 64-bit one.
    const std::string untouched = g_tool.sizeBits == 64 ? "17592186044416" : "1073741824";
    const struct {
        std::string state;
        std::string out;
    } cases[] = {
        {"", "Success: GetSystemFileCacheSize(Min:[1048576], Max:[" + untouched + "], Flags: 0)\n"},
        {"min=0\nmax=0\nflags=0\n", "Success: GetSystemFileCacheSize(Min:[0], Max:[0], Flags: 0)\n"},
        {"min=104857600\nmax=209715200\nflags=5\n",
         "Success: GetSystemFileCacheSize(Min:[104857600], Max:[209715200], Flags: 5)\n"},
        {"min=4294963200\nmax=4294963200\nflags=1\n",
         "Success: GetSystemFileCacheSize(Min:[4294963200], Max:[4294963200], Flags: 1)\n"},
        {"min=2147483648\nmax=4294963200\nflags=4\n",
         "Success: GetSystemFileCacheSize(Min:[2147483648], Max:[4294963200], Flags: 4)\n"},
    };
    for (const auto &c : cases) {
        // Get never needs the privilege: the token is left alone even without it.
        ToolResult result = Run({"-G"}, c.state + "privilege=missing\n");
        EXPECT_EQ(c.out, result.out) << c.state;
        EXPECT_EQ(0, result.exitCode) << c.state;
        EXPECT_EQ((std::vector<std::string>{"GetSystemFileCacheSize", "ExitProcess 0"}), Calls()) << c.state;
    }
}

TEST_F(SimTest, GetFailureIsReportedWithTheSystemText)
{
    const struct {
        int code;
        std::string message;
    } cases[] = {
        {5, "Access is denied.\r\n"},
        {120, "This function is not supported on this system.\r\n"},
        {1300, "Not all privileges or groups referenced are assigned to the caller.\r\n"},
        // No text for the code: the first four fields all the same.
        {4242, "(no message text)"},
        {-1, "(no message text)"},
    };
    for (const auto &c : cases) {
        std::string code = std::to_string((unsigned)c.code);
        SCOPED_TRACE("code " + code);
        ToolResult result = Run({"-G"}, "fail.GetSystemFileCacheSize=" + code + "\n");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(result.out, match, std::regex("main\\.cpp:([0-9]+): ([\\s\\S]*)\n")))
            << result.out;
        EXPECT_EQ("GetSystemFileCacheSize(" + std::to_string(c.code) + "): " + c.message, match[2].str());
        EXPECT_EQ(1, result.exitCode);
        EXPECT_EQ((std::vector<std::string>{"GetSystemFileCacheSize", "ExitProcess 1"}), Calls());
    }
}

TEST_F(SimTest, ReportLineStandsWhenFormatMessageFails)
{
    ToolResult result = Run({"-G"}, "fail.GetSystemFileCacheSize=5\nfail.FormatMessageW=8\n");
    EXPECT_TRUE(std::regex_match(result.out, std::regex("main\\.cpp:[0-9]+: GetSystemFileCacheSize\\(5\\): "
                                                        "\\(no message text\\)\n")))
        << result.out;
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ((std::vector<std::string>{"GetSystemFileCacheSize", "ExitProcess 1"}), Calls());
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
        EXPECT_TRUE(std::regex_match(result.out, std::regex("main\\.cpp:[0-9]+: GetSystemFileCacheSize\\(5\\): "
                                                            "Access is denied\\.\r\n\n")))
            << result.out;
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

TEST_F(SimTest, ABrokenStateFileIsTheSimulatorsExitNotTheTools)
{
    for (const std::string state : {"min=abc\n", "colour=blue\n", "privilege=maybe\n", "fail.ExitProcess=5\n",
                                    "fail.OpenProcessToken=0\n", "console=x\n", "console=-1\n", "console=70000\n",
                                    "flags=2\n", "flags=3\n", "flags=16\n", "max=18446744073709551616\n", "min=-1\n",
                                    "min=1000\n", "system=arm64\n", "fail.FormatMessageW=4294967296\n"}) {
        ToolResult result = Run({"-G"}, state);
        EXPECT_EQ(2, result.exitCode) << state;
        EXPECT_EQ("", result.out) << state;
        EXPECT_NE("", result.err) << state;
        EXPECT_EQ(result.err.size() - 1, result.err.find('\n')) << state << ": not one line: " << result.err;
    }
}

// ---------------------------------------------------------------------------
// What the command line gets from a system that keeps the limits as Windows does

TEST_F(SimTest, TheSystemJudgesTheSizesAsWindowsDoes)
{
    ExpectCommandFacts(*this);
}

// ---------------------------------------------------------------------------
// Set

TEST_F(SimTest, SetAppliesTheSizesWithBothHardLimits)
{
    ToolResult result = Run({"-S", "100", "200"});
    EXPECT_EQ("Success: SetSystemFileCacheSize(Min:[104857600], Max:[209715200], Flags: 5)\n", result.out);
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(Join(PrivilegeStep, {"SetSystemFileCacheSize 104857600 209715200 5", "ExitProcess 0"}), Calls());
    EXPECT_EQ("104857600", StateValue(State(), "min"));
    EXPECT_EQ("209715200", StateValue(State(), "max"));
    EXPECT_EQ("5", StateValue(State(), "flags"));

    // The next run reads what this one applied.
    ToolResult get = RunAgain({"-G"});
    EXPECT_EQ("Success: GetSystemFileCacheSize(Min:[104857600], Max:[209715200], Flags: 5)\n", get.out);
}

TEST_F(SimTest, SizesConvertByTheirValue)
{
    struct SizeCase {
        std::string min, max;
        std::string bytes;
        int exitCode; // what the system makes of them
    };
    std::vector<SizeCase> cases = {
        {"0", "4095", "0 4293918720", 0},
        {"-0", "+0", "0 0", 0},
        {" 12", "64 ", "12582912 67108864", 0},
        {"+5", "\t0017\n", "5242880 17825792", 0},
        {"00000000000000000001", "4095", "1048576 4293918720", 0},
        {"1", "17", "1048576 17825792", 0},
        {"4094", "4095", "4292870144 4293918720", 0},
    };
    if (g_tool.sizeBits == 64) {
        // Past 4 GiB, up to the largest count of megabytes whose bytes fit 64 bits.
        cases.push_back({"4096", "4097", "4294967296 4296015872", 0});
        cases.push_back({"1", "17592186044415", "1048576 18446744073708503040", 0});
        // Both past what the system takes: lowered to the same size, which hard limits refuse.
        cases.push_back({"+0017592186044414", " 17592186044415 ", "18446744073707454464 18446744073708503040", 1});
        cases.push_back({"524288", "16777216", "549755813888 17592186044416", 0});
    }
    // A system with the memory to spare for the largest minimum.
    const std::string state = g_tool.sizeBits == 64 ? "available=140737488289792\n" : "available=4294963200\n";
    for (const auto &c : cases) {
        SCOPED_TRACE("-S [" + c.min + "] [" + c.max + "]");
        ToolResult result = Run({"-S", c.min, c.max}, state);
        EXPECT_EQ(c.exitCode, result.exitCode);
        EXPECT_EQ(Join(PrivilegeStep, {"SetSystemFileCacheSize " + c.bytes + " 5", "ExitProcess " +
                                                                                       std::to_string(c.exitCode)}),
                  Calls());
        std::string min = c.bytes.substr(0, c.bytes.find(' '));
        std::string max = c.bytes.substr(c.bytes.find(' ') + 1);
        if (c.exitCode == 0) {
            EXPECT_EQ("Success: SetSystemFileCacheSize(Min:[" + min + "], Max:[" + max + "], Flags: 5)\n",
                      result.out);
        }
    }
}

TEST_F(SimTest, ABadSizeRefusesTheCommandLineBeforeAnythingIsTouched)
{
    struct BadSize {
        std::vector<std::string> args;
        std::string reported;
    };
    std::vector<BadSize> cases = {
        {{"-S", "-1", "1"}, "-1"},
        {{"-S", "abc", "1"}, "abc"},
        {{"-S", "12abc", "1"}, "12abc"},
        {{"-S", "1", "512MB"}, "512MB"},
        {{"-S", "1", "2GB"}, "2GB"},
        {{"-S", "0x100", "1"}, "0x100"},
        {{"-S", "1", "99999999999999999999999999999999"}, "99999999999999999999999999999999"},
        {{"-S", "1", "18446744073709551616"}, "18446744073709551616"},
        {{"-S", "", "1"}, ""},
        {{"-S", " ", "1"}, " "},
        {{"-S", "+", "1"}, "+"},
        {{"-S", "1", "-"}, "-"},
        {{"-S", "1 2", "3"}, "1 2"},
        {{"-S", "--1", "3"}, "--1"},
        {{"-S", "1.5", "3"}, "1.5"},
        {{"-S", "%s%n", "3"}, "%s%n"},
        // The minimum is judged first.
        {{"-S", "abc", "xyz"}, "abc"},
        {{"-S", "17592186044416", "-3"}, "17592186044416"},
    };
    if (g_tool.sizeBits == 32) {
        // Past 4095 MB the byte count no longer fits 32 bits.
        cases.push_back({{"-S", "4096", "1"}, "4096"});
        cases.push_back({{"-S", "1", "4097"}, "4097"});
        cases.push_back({{"-S", "99999999999", "1"}, "99999999999"});
        cases.push_back({{"-S", "5000", "-3"}, "5000"});
    } else {
        cases.push_back({{"-S", "1", "17592186044417"}, "17592186044417"});
        cases.push_back({{"-S", "18446744073709551615", "1"}, "18446744073709551615"});
        cases.push_back({{"-S", "1", "-17592186044415"}, "-17592186044415"});
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(Describe(c.args));
        ToolResult result = Run(c.args);
        EXPECT_EQ("Invalid size: [" + c.reported + "] (0 to " + MaxSizeMB() + " MB)\n" + Usage, result.out);
        EXPECT_EQ(255, result.exitCode);
        EXPECT_EQ(std::vector<std::string>{"ExitProcess 255"}, Log());
    }
}

// ---------------------------------------------------------------------------
// Clear

TEST_F(SimTest, ClearKeepsTheSizesAndSwitchesBothHardLimitsOff)
{
    const struct {
        std::string sizes;
        std::string min, max;
    } cases[] = {
        {"min=2097152\nmax=536870912\nflags=5\n", "2097152", "536870912"},
        {"min=1048576\nmax=4294963200\nflags=1\n", "1048576", "4294963200"},
        {"min=1048576\nmax=1048576\nflags=4\n", "1048576", "1048576"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sizes);
        ToolResult result = Run({"-C"}, c.sizes);
        EXPECT_EQ("Success: SetSystemFileCacheSize(Min:[" + c.min + "], Max:[" + c.max + "], Flags: 10)\n",
                  result.out);
        EXPECT_EQ(0, result.exitCode);
        EXPECT_EQ(Join(PrivilegeStep, {"GetSystemFileCacheSize",
                                       "SetSystemFileCacheSize " + c.min + " " + c.max + " 10", "ExitProcess 0"}),
                  Calls());
        EXPECT_EQ(c.min, StateValue(State(), "min"));
        EXPECT_EQ(c.max, StateValue(State(), "max"));
        EXPECT_EQ("0", StateValue(State(), "flags"));
    }
}

// ---------------------------------------------------------------------------
// Failures of Clear and Set: every report site

struct FailureCase {
    const char *name;
    std::vector<std::string> args;
    std::string state;
    std::string unit;
    std::string report; // "Call(code): text", the line's fields after the line number
    std::vector<std::string> calls;
};

const std::vector<FailureCase> &FailureCases()
{
    static const std::vector<FailureCase> cases = {
        {"OpenProcessToken", {"-C"}, "fail.OpenProcessToken=5\n", "main.cpp",
         "OpenProcessToken(5): Access is denied.\r\n", {"OpenProcessToken 40", "ExitProcess 1"}},
        {"LookupPrivilegeValue", {"-S", "1", "64"}, "fail.LookupPrivilegeValueW=1313\n", "SetPrivilege.cpp",
         "LookupPrivilegeValue(1313): A specified privilege does not exist.\r\n",
         Join(PrivilegeStep, {"ExitProcess 1"})},
        {"AdjustTokenPrivileges fails", {"-S", "1", "64"}, "fail.AdjustTokenPrivileges=6\n", "SetPrivilege.cpp",
         "AdjustTokenPrivileges(6): The handle is invalid.\r\n", Join(PrivilegeStep, {"ExitProcess 1"})},
        {"privilege not held", {"-S", "1", "64"}, "privilege=missing\n", "SetPrivilege.cpp",
         "AdjustTokenPrivileges(1300): Not all privileges or groups referenced are assigned to the caller.\r\n",
         Join(PrivilegeStep, {"ExitProcess 1"})},
        {"privilege not held, Clear", {"-C"}, "privilege=missing\n", "SetPrivilege.cpp",
         "AdjustTokenPrivileges(1300): Not all privileges or groups referenced are assigned to the caller.\r\n",
         Join(PrivilegeStep, {"ExitProcess 1"})},
        {"Clear's read", {"-C"}, "fail.GetSystemFileCacheSize=87\n", "main.cpp",
         "GetSystemFileCacheSize(87): The parameter is incorrect.\r\n",
         Join(PrivilegeStep, {"GetSystemFileCacheSize", "ExitProcess 1"})},
        {"Clear's write", {"-C"}, "fail.SetSystemFileCacheSize=5\n", "main.cpp",
         "SetSystemFileCacheSize(5): Access is denied.\r\n",
         Join(PrivilegeStep,
              {"GetSystemFileCacheSize", "SetSystemFileCacheSize 1048576 1073741824 10", "ExitProcess 1"})},
        {"Set's write", {"-S", "1", "64"}, "fail.SetSystemFileCacheSize=5\n", "main.cpp",
         "SetSystemFileCacheSize(5): Access is denied.\r\n",
         Join(PrivilegeStep, {"SetSystemFileCacheSize 1048576 67108864 5", "ExitProcess 1"})},
        {"Set's write refused by the system", {"-S", "200", "100"}, "", "main.cpp",
         "SetSystemFileCacheSize(87): The parameter is incorrect.\r\n",
         Join(PrivilegeStep, {"SetSystemFileCacheSize 209715200 104857600 5", "ExitProcess 1"})},
        {"Get's read", {"-G"}, "fail.GetSystemFileCacheSize=87\n", "main.cpp",
         "GetSystemFileCacheSize(87): The parameter is incorrect.\r\n", {"GetSystemFileCacheSize", "ExitProcess 1"}},
    };
    return cases;
}

TEST_F(SimTest, EveryFailureIsOneReportLineFromItsOwnSite)
{
    const std::string before = "min=1048576\nmax=1073741824\nflags=0\n";
    std::map<std::string, std::string> siteOf; // "unit:line" -> case name
    for (const FailureCase &c : FailureCases()) {
        ToolResult result = Run(c.args, before + c.state);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(result.out, match, std::regex("([A-Za-z]+\\.cpp):([0-9]+): ([^\n]*\n)\n")))
            << c.name << ": " << result.out;
        EXPECT_EQ(c.unit, match[1].str()) << c.name;
        EXPECT_EQ(c.report, match[3].str()) << c.name;
        EXPECT_EQ(1, result.exitCode) << c.name;
        EXPECT_EQ("", result.err) << c.name;
        EXPECT_EQ(c.calls, Calls()) << c.name;
        // A failed run changes nothing.
        EXPECT_EQ(before + c.state + (c.state.find("privilege=") == std::string::npos ? "privilege=held\n" : ""),
                  State())
            << c.name;

        // Sites that print the same call are told apart by their line.
        std::string site = match[1].str() + ":" + match[2].str();
        std::string call = match[3].str().substr(0, match[3].str().find('('));
        auto known = siteOf.find(site);
        if (known != siteOf.end()) {
            EXPECT_EQ(known->second, call) << c.name << " reports from the line of another site";
        }
        siteOf[site] = call;
    }
    // Eight report sites in all, the 1300 case sharing its site between Clear and Set
    // and the system's refusal sharing Set's write site.
    EXPECT_EQ(8u, siteOf.size());
}

// ---------------------------------------------------------------------------
// Limits past 4 GiB, as a 64-bit system holds them: a 64-bit process reads and
// passes them on whole; a 32-bit one cannot receive them, and the system says so
// with 534 rather than handing over a truncated number.

TEST_F(SimTest, LimitsPast4GiBNeedA64BitProcess)
{
    const struct {
        std::string min, max;
    } cases[] = {
        {"1048576", "4294967296"},
        {"4294967296", "17592186044416"},
        {"140737488289792", "140737488289792"},
    };
    const std::regex overflow("main\\.cpp:[0-9]+: GetSystemFileCacheSize\\(534\\): "
                              "Arithmetic result exceeded 32 bits\\.\r\n\n");
    for (const auto &c : cases) {
        SCOPED_TRACE("min " + c.min + ", max " + c.max);
        const std::string state = "system=x64\nmin=" + c.min + "\nmax=" + c.max + "\nflags=5\nprivilege=held\n";

        ToolResult get = Run({"-G"}, state);
        ToolResult clear = Run({"-C"}, state);
        if (g_tool.sizeBits == 64) {
            EXPECT_EQ("Success: GetSystemFileCacheSize(Min:[" + c.min + "], Max:[" + c.max + "], Flags: 5)\n", get.out);
            EXPECT_EQ(0, get.exitCode);
            EXPECT_EQ("Success: SetSystemFileCacheSize(Min:[" + c.min + "], Max:[" + c.max + "], Flags: 10)\n",
                      clear.out);
            EXPECT_EQ(0, clear.exitCode);
            EXPECT_EQ(Join(PrivilegeStep, {"GetSystemFileCacheSize",
                                           "SetSystemFileCacheSize " + c.min + " " + c.max + " 10", "ExitProcess 0"}),
                      Calls());
        } else {
            EXPECT_TRUE(std::regex_match(get.out, overflow)) << get.out;
            EXPECT_EQ(1, get.exitCode);
            EXPECT_TRUE(std::regex_match(clear.out, overflow)) << clear.out;
            EXPECT_EQ(1, clear.exitCode);
            // Clear stops at the read: nothing is written.
            EXPECT_EQ(Join(PrivilegeStep, {"GetSystemFileCacheSize", "ExitProcess 1"}), Calls());
            EXPECT_EQ(state, State());
        }
    }
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
    const std::regex answer(
        "Success: (Get|Set)SystemFileCacheSize\\(Min:\\[[0-9]+\\], Max:\\[[0-9]+\\], Flags: [0-9]+\\)\n"
        "|(Invalid size: \\[[^\n]*\\] \\(0 to " + MaxSizeMB() + " MB\\)\n)?Usage: Velmora \\[-G\\|-C\\|-S minMB maxMB \\]\n"
        "Call \\[GS\\]etVelmora\\(\\)\n-G: Get, -C: Clear, -S: Set\n"
        "|(main|SetPrivilege)\\.cpp:[0-9]+: [A-Za-z]+\\([0-9]+\\): [^\n]*\n\n?");
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
        EXPECT_TRUE(std::regex_match(result.out, answer)) << Describe(args) << " printed: " << result.out;
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
