// The real Velmora.exe under Wine, 32- or 64-bit as --size-bits says.
//
// The suites Wine and WineCache hold what differs by width or is the 32-bit
// program's own: its message bytes in the reader's code page, the facts of
// CommandFacts.txt that hold for one width (its size refusal, 534 on 64-bit
// limits, a maximum above the largest), one success line of each kind. They run on both
// programs. Wine64 and WineCache64 hold everything else: answers that are the
// same at either width, checked on the 64-bit program, which Wine starts
// natively, and on the simulated 32-bit build (SimTests.cpp), where a start
// costs milliseconds. A 32-bit start under Wine costs about a minute on a
// machine that hands 32-bit programs to an emulator; every case here counts its
// starts.
//
// Wine: the program as shipped. Wine has no system file cache limits: its
// GetSystemFileCacheSize and SetSystemFileCacheSize fail with 120, which makes a
// true end-to-end check of the report line with the platform's own text. Wine's
// token holds the quota privilege, so Set gets past the privilege step.
//
// WineCache: a copy of the program that imports CACHESIM.dll in place of
// KERNEL32.dll. The DLL holds the limits as a 64-bit system does, serves the two
// cache calls from them, and forwards everything else to kernel32, so that the
// success lines are printed by the real Windows runtime.
//
// WineState and WineState64: VelmoraState.exe the same way, with the machine's
// memory from CACHESIM.dll too. The 64-bit program runs the whole table of
// wanted states; the 32-bit one, two starts.

#include <gtest/gtest.h>

#include <ctype.h>
#include <iconv.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <regex>
#include <stdexcept>

#include "cli/CommandFacts.h"
#include "state/WantedStates.h"
#include "ToolRun.h"

namespace {

// A report line of main.cpp as the text-mode runtime writes it: the system's
// text keeps its own "\r\n" and the format's "\n" becomes "\r\n" too.
std::string ReportLine(const std::string &call, int code)
{
    return AsWritten(Report("main.cpp", call, code, AnyText + "\r\n"));
}

// The line number of a report line.
std::string ReportedLine(const std::string &out)
{
    std::smatch match;
    return std::regex_search(out, match, std::regex("^" + ReportPattern)) ? match[2].str() : "(none)";
}

// Text in a code page, through the C library's iconv.
std::string Encode(const std::string &utf8, const char *codePage)
{
    iconv_t converter = iconv_open(codePage, "UTF-8");
    if (converter == (iconv_t)-1)
        throw std::runtime_error(std::string("no conversion to ") + codePage);
    std::string in = utf8;
    std::string out(in.size() * 4, '\0');
    char *inPointer = &in[0];
    char *outPointer = &out[0];
    size_t inLeft = in.size();
    size_t outLeft = out.size();
    size_t converted = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    if (converted == (size_t)-1)
        throw std::runtime_error(std::string("cannot convert to ") + codePage + ": " + utf8);
    out.resize(out.size() - outLeft);
    return out;
}

TEST(Wine64, RefusedCommandLinesPrintUsage)
{
    ToolResult result = RunTool({});
    EXPECT_EQ(AsWritten(Usage), result.out);
    EXPECT_EQ(255, result.exitCode);
}

TEST(Wine64, GetAndClearReportTheUnsupportedCallFromTheirOwnLines)
{
    ToolResult get = RunTool({"-G"});
    EXPECT_TRUE(Matches(ReportLine("GetSystemFileCacheSize", 120), get.out));
    EXPECT_EQ(1, get.exitCode);

    ToolResult clear = RunTool({"-C"});
    EXPECT_TRUE(Matches(ReportLine("GetSystemFileCacheSize", 120), clear.out));
    EXPECT_EQ(1, clear.exitCode);

    EXPECT_NE(ReportedLine(get.out), ReportedLine(clear.out)) << "Get and Clear report from the same line";
}

TEST(Wine64, SetPassesTheSizeCheckAndThePrivilegeStepAndReportsTheWrite)
{
    // 5000 MB, past the 32-bit range.
    ToolResult result = RunTool({"-S", "1", "5000"});
    EXPECT_TRUE(Matches(ReportLine("SetSystemFileCacheSize", 120), result.out));
    EXPECT_EQ(1, result.exitCode);
}

// Run with pipes, the program has no console, and the reader decodes its
// output in the OEM code page of the system's language: one start.
void ExpectTheSystemTextIn(const char *locale, const char *oemCodePage, const std::string &text)
{
    ToolResult result = RunTool({"-G"}, {{"LC_ALL", locale}, {"LANG", locale}});
    ASSERT_TRUE(Matches(ReportLine("GetSystemFileCacheSize", 120), result.out));
    std::string field = result.out.substr(result.out.find("): ") + 3);
    EXPECT_EQ(Encode(text, oemCodePage) + "\r\r\n\r\n", field);
    EXPECT_EQ(1, result.exitCode);
}

// Wine's text for 120 in French, in code page 850.
TEST(Wine, TheSystemTextIsInAFrenchReadersCodePage)
{
    ExpectTheSystemTextIn("fr_FR.UTF-8", "IBM850", "Appel non implémenté.");
}

// Wine's text for 120 in Russian, in code page 866.
TEST(Wine, TheSystemTextIsInARussianReadersCodePage)
{
    ExpectTheSystemTextIn("ru_RU.UTF-8", "CP866", "Функция не реализована.");
}

// ---------------------------------------------------------------------------
// The success paths, on the limits that CACHESIM.dll keeps.

// A folder of a test's own with a copy of one program that imports CACHESIM.dll,
// and the DLL: the system lives in the folder's cachesim.state.
class CacheSimFolder : public testing::Test {
public:
    explicit CacheSimFolder(const std::string &program) : program_(program) {}

    void SetUp() override
    {
        ASSERT_FALSE(g_tool.cacheSim.empty()) << "--cache-sim names no folder";
        dir_ = MakeTempDir();
        WriteFile(dir_ + "/" + program_, ReadFile(g_tool.cacheSim + "/" + program_));
        WriteFile(dir_ + "/CACHESIM.dll", ReadFile(g_tool.cacheSim + "/CACHESIM.dll"));
    }

    void TearDown() override
    {
        for (const std::string &name : {program_, std::string("CACHESIM.dll"), std::string("cachesim.state"),
                                        std::string("cachesim.log")})
            remove((dir_ + "/" + name).c_str());
        rmdir(dir_.c_str());
    }

    void Write(const std::string &state) { WriteFile(dir_ + "/cachesim.state", state); }
    std::string State() const { return ReadFile(dir_ + "/cachesim.state"); }
    std::vector<std::string> Log() const { return ReadLines(dir_ + "/cachesim.log"); }

    std::string program_;
    std::string dir_;
};

class WineCache : public CacheSimFolder {
public:
    WineCache() : CacheSimFolder("Velmora.exe") {}

    // Runs the copy on a system in the given state; the log starts empty.
    ToolResult Run(const std::vector<std::string> &args, const std::string &state)
    {
        Write(state);
        return RunAgain(args);
    }

    // Runs one more command line on the system as the last run left it.
    ToolResult RunAgain(const std::vector<std::string> &args)
    {
        WriteFile(dir_ + "/cachesim.log", "");
        return RunTool(args, {}, dir_ + "/Velmora.exe");
    }

    // Limits at the top of what the build under test can hold: the sign bit of
    // a 32-bit number and its largest page, or past 4 GiB to the 64-bit top.
    static std::string Min() { return g_tool.sizeBits == 64 ? "4294967296" : "2147483648"; }
    static std::string Max() { return g_tool.sizeBits == 64 ? "18446744073709547520" : "4294963200"; }
};

// The same fixture, for the cases that run on the 64-bit program alone.
class WineCache64 : public WineCache {
};

// No start: the file alone.
TEST_F(WineCache, TheCopyDiffersFromTheShippedProgramInTheImportNameAlone)
{
    const std::string shipped = ReadFile(g_tool.exe);
    const std::string copy = ReadFile(dir_ + "/Velmora.exe");
    ASSERT_EQ(shipped.size(), copy.size());
    size_t first = std::string::npos;
    size_t last = 0;
    for (size_t offset = 0; offset < copy.size(); offset++) {
        if (shipped[offset] != copy[offset]) {
            first = std::min(first, offset);
            last = offset;
        }
    }
    ASSERT_NE(std::string::npos, first) << "the copy is the shipped program itself";
    // The differences lie inside one DLL name of the same length.
    const std::string name = "CACHESIM.dll";
    ASSERT_LT(last - first, name.size()) << "bytes " << first << " to " << last << " differ";
    size_t start = copy.rfind(name, last);
    ASSERT_NE(std::string::npos, start);
    ASSERT_LE(start, first);
    ASSERT_GT(start + name.size(), last);
    std::string original = shipped.substr(start, name.size());
    for (char &c : original)
        c = (char)toupper((unsigned char)c);
    EXPECT_EQ("KERNEL32.DLL", original);
}

// One start each: a success line of each kind, at the top of the build's range.
TEST_F(WineCache, GetPrintsTheLimitsWhole)
{
    ToolResult result = Run({"-G"}, "min=" + Min() + "\nmax=" + Max() + "\nflags=5\n");
    EXPECT_EQ(AsWritten(GetLine(Min(), Max(), 5)), result.out);
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(std::vector<std::string>{"GetSystemFileCacheSize"}, Log());
}

TEST_F(WineCache, SetHandsTheSystemTheSizesInBytes)
{
    // The two largest sizes, or a size just past 4 GiB and the largest.
    std::vector<std::string> args = {"-S", "4094", "4095"};
    std::string min = "4292870144", max = "4293918720";
    if (g_tool.sizeBits == 64) {
        args = {"-S", "4096", "17592186044415"};
        min = "4294967296", max = "18446744073708503040";
    }
    ToolResult result = Run(args, "available=4294963200\n");
    EXPECT_EQ(AsWritten(SetLine(min, max, 5)), result.out)
        << Describe(args);
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(std::vector<std::string>{"SetSystemFileCacheSize " + min + " " + max + " 5"}, Log());
    EXPECT_EQ(min, StateValue(State(), "min"));
    EXPECT_EQ("5", StateValue(State(), "flags"));
}

TEST_F(WineCache, ClearPassesTheLimitsThroughUnchanged)
{
    ToolResult result = Run({"-C"}, "min=" + Min() + "\nmax=" + Max() + "\nflags=5\n");
    EXPECT_EQ(AsWritten(SetLine(Min(), Max(), 10)), result.out);
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ((std::vector<std::string>{"GetSystemFileCacheSize", "SetSystemFileCacheSize " + Min() + " " + Max() + " 10"}),
              Log());
    EXPECT_EQ(Min(), StateValue(State(), "min"));
    EXPECT_EQ("0", StateValue(State(), "flags"));
}

TEST_F(WineCache64, TheSystemsRefusalIsReported)
{
    // A minimum above the maximum: the system answers 87.
    const std::string state = "min=1048576\nmax=1073741824\nflags=0\n";
    ToolResult result = Run({"-S", "200", "100"}, state);
    EXPECT_TRUE(Matches(ReportLine("SetSystemFileCacheSize", 87), result.out));
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ(std::vector<std::string>{"SetSystemFileCacheSize 209715200 104857600 5"}, Log());
    EXPECT_EQ(state, State());
}

// The facts of any width; those of one width are tests of their own (below).
TEST_F(WineCache64, TheSystemJudgesTheSizesAsWindowsDoes)
{
    ExpectCommandFacts(*this, false);
}

// The model refuses every bad state file (sim/model); here, that CACHESIM.dll
// ends the run at the first cache call, with one line on standard error.
TEST_F(WineCache64, ABrokenStateFileEndsTheRunWithExitCode2)
{
    const std::string state = "min=-1\n";
    ToolResult result = Run({"-G"}, state);
    EXPECT_EQ(2, result.exitCode);
    EXPECT_EQ("", result.out);
    EXPECT_TRUE(Matches("cachesim: cachesim.state: line 1: " + AnyText + "\n", result.err) ||
                Matches("cachesim: cachesim.state: line 1: " + AnyText + "\r\n", result.err));
    EXPECT_EQ(state, State());
}


// Two starts: limits far above what 32 bits hold, as an untouched 64-bit
// system has them, read and passed through whole (the 32-bit program's 534 is a
// fact of CommandFacts.txt).
TEST_F(WineCache64, LimitsPast4GiBPassThroughWhole)
{
    const std::string state = "system=x64\nmin=4294967296\nmax=17592186044416\nflags=5\n";
    ToolResult get = Run({"-G"}, state);
    EXPECT_EQ(AsWritten(GetLine("4294967296", "17592186044416", 5)), get.out);
    EXPECT_EQ(0, get.exitCode);
    ToolResult clear = RunAgain({"-C"});
    EXPECT_EQ(AsWritten(SetLine("4294967296", "17592186044416", 10)), clear.out);
    EXPECT_EQ(0, clear.exitCode);
    EXPECT_EQ("4294967296", StateValue(State(), "min"));
    EXPECT_EQ("17592186044416", StateValue(State(), "max"));
    EXPECT_EQ("0", StateValue(State(), "flags"));
}

// ---------------------------------------------------------------------------
// The two stand-ins of Windows side by side: the same command line on the same
// state, once on the simulated system and once under Wine with CACHESIM.dll,
// must give the same exit code, output and state afterwards. Line ends and the
// system's message text are Wine's own and are set aside. Both serve the two
// cache calls from the one model, so this catches what differs between the two
// adapters and the two runtimes (sizes, line ends, the privilege step, the
// state file's I/O), not a wrong kernel rule: the model's own tests, against
// the kernel's published rules, are there for those.

// A state and a command line drawn from a seed, with sizes near the rules' edges.
struct DrawnCase {
    std::string state;
    std::vector<std::string> args;
};

DrawnCase Draw(unsigned seed)
{
    std::mt19937 random(seed);
    auto pick = [&random](const std::vector<std::string> &pool) {
        return pool[std::uniform_int_distribution<size_t>(0, pool.size() - 1)(random)];
    };
    DrawnCase drawn;
    // Pages: 4 (below the smallest minimum), 20 (the smallest minimum), 1 MiB,
    // 5 MiB, 64 MiB less 7 and 6 pages, 16 MiB less a page, 16 MiB, 100 MiB,
    // 1 GiB, 2 GiB, the top of 32 bits, 8 GiB, 16 TiB.
    const std::vector<std::string> sizes = {"16384",      "81920",      "1048576",    "5242880",
                                            "67080192",   "67084288",   "16773120",   "16777216",
                                            "104857600",  "1073741824", "2147483648", "4294963200",
                                            "8589934592", "17592186044416"};
    if (random() % 4 != 0)
        drawn.state += "min=" + pick(sizes) + "\n";
    if (random() % 4 != 0)
        drawn.state += "max=" + pick(sizes) + "\n";
    drawn.state += "flags=" + pick({"0", "1", "4", "5"}) + "\n";
    if (random() % 3 == 0)
        drawn.state += "largest=" + pick({"16777216", "2147483648", "4294963200"}) + "\n";
    if (random() % 3 == 0)
        drawn.state += "available=" + pick({"0", "67108864", "1073741824"}) + "\n";

    const std::vector<std::string> megabytes = {"0",    "1",    "15",   "16",    "17",       "63",
                                                "64",   "100",  "1024", "2000",  "2048",     "3000",
                                                "4000", "4095", "4096", "8192",  "10000",    "16777216",
                                                "17592186044415"};
    switch (random() % 8) {
    case 0:
        drawn.args = {"-G"};
        break;
    case 1:
        drawn.args = {"-C"};
        break;
    case 2:
        drawn.args = {"-S", pick({"-1", "abc", "4096", "1"}), pick({"2", "", "17592186044416"})};
        break;
    default:
        drawn.args = {"-S", pick(megabytes), pick(megabytes)};
        break;
    }
    return drawn;
}

// Output with Windows line ends made plain and a report line's message text left out.
std::string Comparable(const std::string &out)
{
    std::string plain = std::regex_replace(out, std::regex("\r\n"), "\n");
    return std::regex_replace(plain, std::regex("^(" + ReportPattern + ")[\\s\\S]*"), "$1(text)");
}

TEST_F(WineCache64, AgreesWithTheSimulatedSystem)
{
    ASSERT_FALSE(g_tool.simExe.empty()) << "--sim-exe names no simulated build";
    const unsigned cases = 300;
    const unsigned firstSeed = 20261208;
    const std::string simState = dir_ + "/sim.state";
    for (unsigned seed = firstSeed; seed < firstSeed + cases; seed++) {
        DrawnCase drawn = Draw(seed);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + Describe(drawn.args) + " on\n" + drawn.state);
        WriteFile(simState, drawn.state);
        std::vector<std::string> command = {g_tool.simExe};
        command.insert(command.end(), drawn.args.begin(), drawn.args.end());
        ToolResult sim = RunCommand(command, {{"VELMORA_SIM_STATE", simState}});
        ToolResult wine = Run(drawn.args, drawn.state);
        if (wine.out.empty() && wine.err.empty()) {
            // Every answer of Velmora prints a line; a run that printed nothing
            // at all never started the program. Seen once in hundreds of Wine
            // starts on a loaded machine: that start is tried once more.
            fprintf(stderr, "seed %u: Wine gave exit code %d and no output; starting it again\n", seed,
                    wine.exitCode);
            wine = Run(drawn.args, drawn.state);
        }
        ASSERT_EQ(sim.exitCode, wine.exitCode) << "simulated: " << sim.out << sim.err << "Wine: " << wine.out << wine.err;
        ASSERT_EQ(Comparable(sim.out), Comparable(wine.out));
        ASSERT_EQ(ReadFile(simState), State());
    }
}

// ---------------------------------------------------------------------------
// VelmoraState.exe, on the limits and the memory that CACHESIM.dll keeps.

class WineState : public CacheSimFolder {
public:
    WineState() : CacheSimFolder("VelmoraState.exe") {}

    ToolResult Run(const std::vector<std::string> &args, const ToolInput &input = ToolInput())
    {
        WriteFile(dir_ + "/cachesim.log", "");
        ToolResult result = RunTool(args, {}, dir_ + "/VelmoraState.exe", input);
        if (result.out.empty() && result.err.empty()) {
            // Every answer of VelmoraState prints a line; a run that printed
            // nothing at all never started the program, as happens now and then
            // to one Wine start in hundreds on a loaded machine: it is tried
            // once more.
            fprintf(stderr, "VelmoraState %s: Wine gave exit code %d and no output; starting it again\n",
                    args.empty() ? "" : args[0].c_str(), result.exitCode);
            WriteFile(dir_ + "/cachesim.log", "");
            result = RunTool(args, {}, dir_ + "/VelmoraState.exe", input);
        }
        return result;
    }

    int SetCalls() const
    {
        int calls = 0;
        for (const std::string &line : Log())
            calls += line.compare(0, 22, "SetSystemFileCacheSize") == 0 ? 1 : 0;
        return calls;
    }
};

class WineState64 : public WineState {
};

// Every case of the table whose state CACHESIM.dll can hold: Wine's token is
// Wine's own.
TEST_F(WineState64, EveryWantedStateAsTheTableSays)
{
    int checked = 0;
    for (const WantedStateCase &c : WantedStateCases()) {
        if ((c.bits != 0 && c.bits != g_tool.sizeBits) || NeedsSimulatedToken(c))
            continue;
        checked++;
        ExpectWantedStateCase(*this, c);
    }
    EXPECT_LT(40, checked);
}

// The 32-bit program too, in two starts: a share of four places worked out
// exactly on 3 GiB and one byte and applied, then found in place.
TEST_F(WineState, AShareIsWorkedOutAndAppliedExactly)
{
    const ToolInput wanted = PipedText("{\"minimumPercent\":33.3333,\"maximumPercent\":99.9999}\n");
    Write("memory=3221225473\n");
    ToolResult set = Run({"set"}, wanted);
    EXPECT_EQ(0, set.exitCode) << Visible(set.err);
    EXPECT_EQ("{\"hardLimits\":true,\"minimumPercent\":33.3333,\"maximumPercent\":99.9999,\"minimumBytes\":1072693248,"
              "\"maximumBytes\":3220176896,\"flags\":5}\n",
              set.out);
    EXPECT_EQ("1072693248", StateValue(State(), "min"));
    EXPECT_EQ("3220176896", StateValue(State(), "max"));
    ToolResult test = Run({"test"}, wanted);
    EXPECT_NE(std::string::npos, test.out.find("\"_inDesiredState\":true")) << Visible(test.out);
    EXPECT_EQ(0, SetCalls());
}

// A fact whose answer depends on the width, as a test of its own in WineCache:
// the only facts the 32-bit program runs under Wine, a start or two each.
class WineCacheFact : public WineCache {
public:
    explicit WineCacheFact(const CommandFact &fact) : fact_(fact) {}
    void TestBody() override { ExpectCommandFact(*this, fact_); }

private:
    CommandFact fact_;
};

} // namespace

void RegisterWidthFacts()
{
    for (const CommandFact &fact : CommandFacts()) {
        if (fact.bits != g_tool.sizeBits)
            continue;
        testing::RegisterTest("WineCache", TestName(fact.rule).c_str(), nullptr, nullptr, __FILE__, __LINE__,
                              [fact]() -> WineCache * { return new WineCacheFact(fact); });
    }
}
