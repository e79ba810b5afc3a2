// Runs the built Velmora from outside: a command line in, the exact bytes of
// standard output and standard error and the exit code out.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// The text of the one fenced block of a document of the source tree (README.md,
// docs/...) with a line that holds the marker, as tests/support/documents.py
// reads them: the document checker finds these calls as it finds that one's.
std::string DocumentBlock(const std::string &document, const std::string &marker);

// The three usage lines, as the tool prints them, each ending in a line break:
// the README's usage block.
inline const std::string Usage = DocumentBlock("README.md", "Usage: Velmora [-G|-C|-S minMB maxMB ]");

// Stand-ins in an expected output for what a test cannot know: the source line
// of a report site, and the system's message text (without its line break).
const std::string AnyLine = "@LINE@";
const std::string AnyText = "@TEXT@";

// A report line from the unit, as the tool prints it: the system's text (AnyText
// where the test cannot know it) and the line end after it.
inline std::string Report(const std::string &unit, const std::string &call, int code, const std::string &text)
{
    return unit + ":" + AnyLine + ": " + call + "(" + std::to_string(code) + "): " + text + "\n";
}

// A success line, as the tool prints it, with its line end.
inline std::string SuccessLine(const std::string &call, const std::string &min, const std::string &max, int flags)
{
    return "Success: " + call + "(Min:[" + min + "], Max:[" + max + "], Flags: " + std::to_string(flags) + ")\n";
}

inline std::string GetLine(const std::string &min, const std::string &max, int flags)
{
    return SuccessLine("GetSystemFileCacheSize", min, max, flags);
}

inline std::string SetLine(const std::string &min, const std::string &max, int flags)
{
    return SuccessLine("SetSystemFileCacheSize", min, max, flags);
}

// The two lines as regular expressions, for output a test cannot know in full.
// A success line: the call (1), min (2), max (3) and flags (4).
const std::string SuccessPattern =
    "Success: ([GS]etSystemFileCacheSize)\\(Min:\\[([0-9]+)\\], Max:\\[([0-9]+)\\], Flags: ([0-9]+)\\)";
// The start of a report line: the source file (1), its line (2), the call (3) and the code (4).
const std::string ReportPattern = "([A-Za-z]+\\.cpp):([0-9]+): ([A-Za-z]+)\\((-?[0-9]+)\\): ";

// Whether the output is the expected text, where AnyLine and AnyText stand for
// a line number and a message text; otherwise both, with line ends shown.
testing::AssertionResult Matches(const std::string &expected, const std::string &out);

// The text as a regular expression that matches it alone.
std::string RegexEscape(const std::string &text);

// The output with its control characters spelt out (\r, \n), for messages.
std::string Visible(const std::string &text);

struct ToolResult {
    std::string out;
    std::string err;
    int exitCode = -1;
};

// The program under test and how it is started: directly, or through Wine.
struct ToolUnderTest {
    std::string exe;
    std::string wine;
    // The width of SIZE_T in the build under test: 32 or 64.
    int sizeBits = 32;
    // A folder with a copy of the program that imports CACHESIM.dll in place of
    // KERNEL32.dll, and that DLL (Wine only).
    std::string cacheSim;
    // The same sources built for the simulated system at the same width, for
    // comparing the two (Wine only).
    std::string simExe;
    // VelmoraState, built beside the program under test.
    std::string stateExe;
};

extern ToolUnderTest g_tool;

// The largest size in megabytes that the build under test accepts, as text.
std::string MaxSizeMB();

// "Velmora [arg] [arg]": a command line, for failure messages.
std::string Describe(const std::vector<std::string> &args);

// What a program reads on standard input: nothing (/dev/null), a text through a
// pipe, or a terminal that nobody types at.
struct ToolInput {
    enum Kind { None, Text, Terminal } kind = None;
    std::string text;
};

inline ToolInput PipedText(const std::string &text)
{
    ToolInput input;
    input.kind = ToolInput::Text;
    input.text = text;
    return input;
}

// Runs the program (another than g_tool.exe where exe is given) with the
// arguments, the extra environment variables and the input.
ToolResult RunTool(const std::vector<std::string> &args, const std::map<std::string, std::string> &env = {},
                   const std::string &exe = "", const ToolInput &input = ToolInput());

// Runs a command as it stands, without Wine.
ToolResult RunCommand(std::vector<std::string> command, const std::map<std::string, std::string> &env = {},
                      const ToolInput &input = ToolInput());

// The expected bytes as the build under test writes them: a text-mode Windows
// runtime turns every "\n" into "\r\n".
std::string AsWritten(const std::string &text);

// The value of a key in a system's state file, "(none)" where it has none.
std::string StateValue(const std::string &state, const std::string &key);

std::vector<std::string> ReadLines(const std::string &path);
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &text);
std::string MakeTempDir();
