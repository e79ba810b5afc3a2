// The real 32-bit Velmora.exe under Wine. Wine has no system file cache limits:
// its GetSystemFileCacheSize and SetSystemFileCacheSize fail with 120, which
// makes a true end-to-end check of the report line with the platform's own text.
// Wine's token holds the quota privilege, so Set gets past the privilege step.

#include <gtest/gtest.h>

#include <regex>

#include "ToolRun.h"

namespace {

// A report line as the text-mode runtime writes it: the system's text keeps its
// own "\r\n" and the format's "\n" becomes "\r\n" too.
std::regex ReportLine(const std::string &call)
{
    return std::regex("main\\.cpp:([0-9]+): " + call + "\\(120\\): [^\r\n]+\r\r\n\r\n");
}

TEST(Wine, RefusedCommandLinesPrintUsage)
{
    ToolResult result = RunTool({});
    EXPECT_EQ(AsWritten(Usage), result.out);
    EXPECT_EQ(255, result.exitCode);
}

TEST(Wine, GetAndClearReportTheUnsupportedCallFromTheirOwnLines)
{
    ToolResult get = RunTool({"-G"});
    std::smatch getMatch;
    EXPECT_TRUE(std::regex_match(get.out, getMatch, ReportLine("GetSystemFileCacheSize"))) << get.out;
    EXPECT_EQ(1, get.exitCode);

    ToolResult clear = RunTool({"-C"});
    std::smatch clearMatch;
    EXPECT_TRUE(std::regex_match(clear.out, clearMatch, ReportLine("GetSystemFileCacheSize"))) << clear.out;
    EXPECT_EQ(1, clear.exitCode);

    ASSERT_FALSE(getMatch.empty() || clearMatch.empty());
    EXPECT_NE(getMatch[1].str(), clearMatch[1].str()) << "Get and Clear report from the same line";
    // The same code gives the same system text.
    EXPECT_EQ(getMatch.suffix().str(), clearMatch.suffix().str());
}

TEST(Wine, SetPassesThePrivilegeStepAndReportsTheWrite)
{
    ToolResult result = RunTool({"-S", "100", "200"});
    EXPECT_TRUE(std::regex_match(result.out, ReportLine("SetSystemFileCacheSize"))) << result.out;
    EXPECT_EQ(1, result.exitCode);
}

TEST(Wine, SetRefusesABadSize)
{
    ToolResult result = RunTool({"-S", "1", "5000"});
    EXPECT_EQ(AsWritten("Invalid size: [5000] (0 to 4095 MB)\n" + Usage), result.out);
    EXPECT_EQ(255, result.exitCode);
}

} // namespace
