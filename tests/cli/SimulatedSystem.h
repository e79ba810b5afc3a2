// Command-line cases that need the simulated system: its keys beyond the
// cache's own (privilege, console, fail.NAME) or its log of the calls Velmora
// made. Each row is a state, a command line, the exact output, the exit code,
// the calls that are Velmora's behaviour, and what the system holds afterwards.
// Run by SimTests.cpp on the simulated system, at the build's width.
#pragma once

#include <string>
#include <vector>

#include "ToolRun.h"

struct SimCase {
    std::string rule;
    int bits;                       // the build it applies to: 32, 64, or 0 for both
    std::string state;              // the system's state file
    std::vector<std::string> args;  // the command line
    std::string out;                // the exact output; AnyLine for a report line's number
    int exitCode;
    std::vector<std::string> calls; // the calls that are the tool's behaviour, in order
    std::string after;              // keys the state holds afterwards ("min=...\n"); "" for unchanged
};

// The calls of the privilege step, as the system sees them: the token is opened
// with TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY and closed before any cache call.
inline std::vector<std::string> AfterPrivilegeStep(const std::vector<std::string> &calls)
{
    std::vector<std::string> all = {"OpenProcessToken 40", "CloseHandle"};
    all.insert(all.end(), calls.begin(), calls.end());
    return all;
}

inline const std::vector<SimCase> &SimulatedSystemCases()
{
    static const std::vector<SimCase> cases = [] {
        std::vector<SimCase> rows;
        const std::vector<std::string> exit255 = {"ExitProcess 255"};
        const std::string maxMB = MaxSizeMB();

        // The command line: anything but the three options, with the sizes -S needs, is refused.
        for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
                 {},          {"-G", "x"},      {"-S", "1"},      {"-S", "1", "2", "3"}, {"-G", "1", "2", "3", "4"},
                 {"-g"},      {"-s", "1", "2"}, {"-c"},           {"-"},                 {"G"},
                 {""},        {"-S"},           {"-Sfoo"},        {"-x", "1", "2"},      {"S", "1", "2"},
                 {"--G"},     {" -G"},          {"/G"}})
            rows.push_back({"a refused command line", 0, "", args, Usage, 255, exit255, ""});

        // Only the first two characters of the option select the mode.
        const std::string held = "min=2097152\nmax=67108864\nflags=4\n";
        const std::vector<std::string> getCalls = {"GetSystemFileCacheSize", "ExitProcess 0"};
        const std::vector<std::string> clearCalls = AfterPrivilegeStep(
            {"GetSystemFileCacheSize", "SetSystemFileCacheSize 2097152 67108864 10", "ExitProcess 0"});
        const std::string cleared = "min=2097152\nmax=67108864\nflags=0\n";
        for (const std::vector<std::string> &args :
             std::vector<std::vector<std::string>>{{"-Gx"}, {"-Get"}, {"-G", "1", "2"}, {"-G", "abc", "x"}})
            rows.push_back({"Get by its first two characters", 0, held, args, GetLine("2097152", "67108864", 4), 0,
                            getCalls, ""});
        for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{{"-Clear"}, {"-C", "1", "2"}})
            rows.push_back({"Clear by its first two characters", 0, held, args, SetLine("2097152", "67108864", 10), 0,
                            clearCalls, cleared});
        rows.push_back({"Set by its first two characters", 0, held, {"-Sfoo", "1", "64"},
                        SetLine("1048576", "67108864", 5), 0,
                        AfterPrivilegeStep({"SetSystemFileCacheSize 1048576 67108864 5", "ExitProcess 0"}),
                        "min=1048576\nmax=67108864\nflags=5\n"});

        // Get prints the limits as the system gives them, and needs no privilege.
        rows.push_back({"Get on an untouched 32-bit system", 32, "privilege=missing\n", {"-G"},
                        GetLine("1048576", "1073741824", 0), 0, getCalls, ""});
        rows.push_back({"Get on an untouched 64-bit system", 64, "privilege=missing\n", {"-G"},
                        GetLine("1048576", "17592186044416", 0), 0, getCalls, ""});
        for (const auto &limits : std::vector<std::vector<std::string>>{{"0", "0", "0"},
                                                                         {"104857600", "209715200", "5"},
                                                                         {"4294963200", "4294963200", "1"},
                                                                         {"2147483648", "4294963200", "4"}})
            rows.push_back({"Get prints the limits whole", 0,
                            "min=" + limits[0] + "\nmax=" + limits[1] + "\nflags=" + limits[2] + "\nprivilege=missing\n",
                            {"-G"}, GetLine(limits[0], limits[1], std::stoi(limits[2])), 0, getCalls, ""});

        // A failed Get: the system's text, or none.
        const std::vector<std::string> getFailed = {"GetSystemFileCacheSize", "ExitProcess 1"};
        rows.push_back({"Get refused: the system's text", 0, "fail.GetSystemFileCacheSize=5\n", {"-G"},
                        Report("main.cpp", "GetSystemFileCacheSize", 5, "Access is denied.\r\n"), 1, getFailed, ""});
        rows.push_back({"Get refused: the system's text", 0, "fail.GetSystemFileCacheSize=120\n", {"-G"},
                        Report("main.cpp", "GetSystemFileCacheSize", 120,
                               "This function is not supported on this system.\r\n"),
                        1, getFailed, ""});
        rows.push_back({"a code without text: the first four fields all the same", 0,
                        "fail.GetSystemFileCacheSize=4242\n", {"-G"},
                        Report("main.cpp", "GetSystemFileCacheSize", 4242, "(no message text)"), 1, getFailed, ""});
        rows.push_back({"a code past 31 bits is printed as the runtime's %d prints it", 0,
                        "fail.GetSystemFileCacheSize=4294967295\n", {"-G"},
                        Report("main.cpp", "GetSystemFileCacheSize", -1, "(no message text)"), 1, getFailed, ""});
        rows.push_back({"FormatMessageW fails: the line stands without text", 0,
                        "fail.GetSystemFileCacheSize=5\nfail.FormatMessageW=8\n", {"-G"},
                        Report("main.cpp", "GetSystemFileCacheSize", 5, "(no message text)"), 1, getFailed, ""});

        // Set applies the sizes with both hard limits on.
        rows.push_back({"Set applies both sizes, hard", 0, "", {"-S", "100", "200"},
                        SetLine("104857600", "209715200", 5), 0,
                        AfterPrivilegeStep({"SetSystemFileCacheSize 104857600 209715200 5", "ExitProcess 0"}),
                        "min=104857600\nmax=209715200\nflags=5\n"});

        // Sizes convert by their value: bytes as the system receives them.
        const std::string spare = "available=" + std::string(g_tool.sizeBits == 64 ? "140737488289792" : "4294963200") + "\n";
        struct Sizes {
            std::string min, max, minBytes, maxBytes;
        };
        std::vector<Sizes> sizes = {
            {"0", "4095", "0", "4293918720"},
            {"-0", "+0", "0", "0"},
            {" 12", "64 ", "12582912", "67108864"},
            {"+5", "\t0017\n", "5242880", "17825792"},
            {"00000000000000000001", "4095", "1048576", "4293918720"},
            {"1", "17", "1048576", "17825792"},
            {"4094", "4095", "4292870144", "4293918720"},
        };
        if (g_tool.sizeBits == 64) {
            // Past 4 GiB, up to the largest count of megabytes whose bytes fit 64 bits.
            sizes.push_back({"4096", "4097", "4294967296", "4296015872"});
            sizes.push_back({"1", "17592186044415", "1048576", "18446744073708503040"});
            sizes.push_back({"524288", "16777216", "549755813888", "17592186044416"});
        }
        for (const Sizes &size : sizes)
            rows.push_back({"a size converts by its value", 0, spare, {"-S", size.min, size.max},
                            SetLine(size.minBytes, size.maxBytes, 5), 0,
                            AfterPrivilegeStep({"SetSystemFileCacheSize " + size.minBytes + " " + size.maxBytes + " 5",
                                                "ExitProcess 0"}),
                            "flags=5\n"});
        rows.push_back({"both past what the system takes: lowered to one size, which hard limits refuse", 64, spare,
                        {"-S", "+0017592186044414", " 17592186044415 "},
                        Report("main.cpp", "SetSystemFileCacheSize", 87, "The parameter is incorrect.\r\n"), 1,
                        AfterPrivilegeStep({"SetSystemFileCacheSize 18446744073707454464 18446744073708503040 5",
                                            "ExitProcess 1"}),
                        ""});

        // A bad size refuses the command line before anything is touched; the minimum is judged first.
        std::vector<std::vector<std::string>> bad = {
            {"-1", "1", "-1"},         {"abc", "1", "abc"},       {"12abc", "1", "12abc"},
            {"1", "512MB", "512MB"},   {"1", "2GB", "2GB"},       {"0x100", "1", "0x100"},
            {"1", "99999999999999999999999999999999", "99999999999999999999999999999999"},
            {"1", "18446744073709551616", "18446744073709551616"},
            {"", "1", ""},             {" ", "1", " "},           {"+", "1", "+"},
            {"1", "-", "-"},           {"1 2", "3", "1 2"},       {"--1", "3", "--1"},
            {"1.5", "3", "1.5"},       {"%s%n", "3", "%s%n"},     {"abc", "xyz", "abc"},
            {"17592186044416", "-3", "17592186044416"},
        };
        if (g_tool.sizeBits == 32) {
            // Past 4095 MB the byte count no longer fits 32 bits.
            bad.insert(bad.end(), {{"4096", "1", "4096"}, {"1", "4097", "4097"}, {"99999999999", "1", "99999999999"},
                                   {"5000", "-3", "5000"}});
        } else {
            bad.insert(bad.end(), {{"1", "17592186044417", "17592186044417"},
                                   {"18446744073709551615", "1", "18446744073709551615"},
                                   {"1", "-17592186044415", "-17592186044415"}});
        }
        for (const auto &size : bad)
            rows.push_back({"a bad size", 0, "", {"-S", size[0], size[1]},
                            "Invalid size: [" + size[2] + "] (0 to " + maxMB + " MB)\n" + Usage, 255, exit255, ""});

        // Clear keeps the sizes and switches both hard limits off.
        for (const auto &limits : std::vector<std::vector<std::string>>{{"2097152", "536870912", "5"},
                                                                         {"1048576", "4294963200", "1"},
                                                                         {"1048576", "1048576", "4"}})
            rows.push_back({"Clear keeps both sizes", 0,
                            "min=" + limits[0] + "\nmax=" + limits[1] + "\nflags=" + limits[2] + "\n", {"-C"},
                            SetLine(limits[0], limits[1], 10), 0,
                            AfterPrivilegeStep({"GetSystemFileCacheSize",
                                                "SetSystemFileCacheSize " + limits[0] + " " + limits[1] + " 10",
                                                "ExitProcess 0"}),
                            "min=" + limits[0] + "\nmax=" + limits[1] + "\nflags=0\n"});

        // Every failure of Clear and Set, one report line from its own site; nothing changes.
        const std::string limits = "min=1048576\nmax=1073741824\nflags=0\n";
        const std::string notAssigned = "Not all privileges or groups referenced are assigned to the caller.\r\n";
        const std::vector<std::string> stopped = AfterPrivilegeStep({"ExitProcess 1"});
        rows.push_back({"OpenProcessToken fails", 0, limits + "fail.OpenProcessToken=5\n", {"-C"},
                        Report("main.cpp", "OpenProcessToken", 5, "Access is denied.\r\n"), 1,
                        {"OpenProcessToken 40", "ExitProcess 1"}, ""});
        rows.push_back({"LookupPrivilegeValue fails", 0, limits + "fail.LookupPrivilegeValueW=1313\n", {"-S", "1", "64"},
                        Report("SetPrivilege.cpp", "LookupPrivilegeValue", 1313,
                               "A specified privilege does not exist.\r\n"),
                        1, stopped, ""});
        rows.push_back({"AdjustTokenPrivileges fails", 0, limits + "fail.AdjustTokenPrivileges=6\n", {"-S", "1", "64"},
                        Report("SetPrivilege.cpp", "AdjustTokenPrivileges", 6, "The handle is invalid.\r\n"), 1,
                        stopped, ""});
        rows.push_back({"the privilege not held, Set", 0, limits + "privilege=missing\n", {"-S", "1", "64"},
                        Report("SetPrivilege.cpp", "AdjustTokenPrivileges", 1300, notAssigned), 1, stopped, ""});
        rows.push_back({"the privilege not held, Clear", 0, limits + "privilege=missing\n", {"-C"},
                        Report("SetPrivilege.cpp", "AdjustTokenPrivileges", 1300, notAssigned), 1, stopped, ""});
        rows.push_back({"Clear's read fails", 0, limits + "fail.GetSystemFileCacheSize=87\n", {"-C"},
                        Report("main.cpp", "GetSystemFileCacheSize", 87, "The parameter is incorrect.\r\n"), 1,
                        AfterPrivilegeStep({"GetSystemFileCacheSize", "ExitProcess 1"}), ""});
        rows.push_back({"Clear's write fails", 0, limits + "fail.SetSystemFileCacheSize=5\n", {"-C"},
                        Report("main.cpp", "SetSystemFileCacheSize", 5, "Access is denied.\r\n"), 1,
                        AfterPrivilegeStep({"GetSystemFileCacheSize", "SetSystemFileCacheSize 1048576 1073741824 10",
                                            "ExitProcess 1"}),
                        ""});
        rows.push_back({"Set's write fails", 0, limits + "fail.SetSystemFileCacheSize=5\n", {"-S", "1", "64"},
                        Report("main.cpp", "SetSystemFileCacheSize", 5, "Access is denied.\r\n"), 1,
                        AfterPrivilegeStep({"SetSystemFileCacheSize 1048576 67108864 5", "ExitProcess 1"}), ""});
        rows.push_back({"Set's write refused by the system", 0, limits, {"-S", "200", "100"},
                        Report("main.cpp", "SetSystemFileCacheSize", 87, "The parameter is incorrect.\r\n"), 1,
                        AfterPrivilegeStep({"SetSystemFileCacheSize 209715200 104857600 5", "ExitProcess 1"}), ""});
        rows.push_back({"Get's read fails", 0, limits + "fail.GetSystemFileCacheSize=87\n", {"-G"},
                        Report("main.cpp", "GetSystemFileCacheSize", 87, "The parameter is incorrect.\r\n"), 1,
                        getFailed, ""});

        // Limits past 4 GiB, as a 64-bit system holds them: a 64-bit process reads
        // and passes them on whole; a 32-bit one cannot receive them, and the system
        // says so with 534 rather than handing over a truncated number.
        const std::string overflow = Report("main.cpp", "GetSystemFileCacheSize", 534,
                                            "Arithmetic result exceeded 32 bits.\r\n");
        for (const auto &wide : std::vector<std::vector<std::string>>{{"1048576", "4294967296"},
                                                                       {"4294967296", "17592186044416"},
                                                                       {"140737488289792", "140737488289792"}}) {
            const std::string state = "system=x64\nmin=" + wide[0] + "\nmax=" + wide[1] + "\nflags=5\n";
            rows.push_back({"Get past 4 GiB", 64, state, {"-G"}, GetLine(wide[0], wide[1], 5), 0, getCalls, ""});
            rows.push_back({"Clear past 4 GiB", 64, state, {"-C"}, SetLine(wide[0], wide[1], 10), 0,
                            AfterPrivilegeStep({"GetSystemFileCacheSize",
                                                "SetSystemFileCacheSize " + wide[0] + " " + wide[1] + " 10",
                                                "ExitProcess 0"}),
                            "min=" + wide[0] + "\nmax=" + wide[1] + "\nflags=0\n"});
            rows.push_back({"Get past 4 GiB in a 32-bit process", 32, state, {"-G"}, overflow, 1, getFailed, ""});
            rows.push_back({"Clear past 4 GiB in a 32-bit process stops at the read", 32, state, {"-C"}, overflow, 1,
                            AfterPrivilegeStep({"GetSystemFileCacheSize", "ExitProcess 1"}), ""});
        }
        return rows;
    }();
    return cases;
}
