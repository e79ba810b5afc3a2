// The rules of the system file cache, asked of the model that both stand-ins of
// Windows use: each row is one fact about what Windows answers and keeps. The
// state file's refusals are all here; the command-line tests try one each.

#include <gtest/gtest.h>

#include "CacheModel.h"

namespace {

const uint64_t MiB = 1048576;
const uint64_t GiB = 1024 * MiB;
const uint64_t Page = 4096;
const DWORD On = FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MIN_HARD_ENABLE;    // 5, as -S passes
const DWORD Off = FILE_CACHE_MAX_HARD_DISABLE | FILE_CACHE_MIN_HARD_DISABLE; // 10, as -C passes

// A stand-in's part of the state file, for the tests: a service of its own and
// a key whose good values are 0 and 850.
const StandInKeys TestStandIn = {
    {"OpenProcessToken"},
    {{"console", [](const std::string &value) { return value == "0" || value == "850" ? std::string() : std::string("is 0 or 850"); }}},
};

CacheLimits Parse(const std::string &text, int bits)
{
    SystemState state;
    std::string error;
    EXPECT_TRUE(ParseSystemState(text, bits, StandInKeys(), &state, &error)) << text << ": " << error;
    return state.cache;
}

// What the cache holds, in bytes: minimum, maximum, hard-limit bits, what the minimum may still grow.
struct Held {
    uint64_t minimum, maximum;
    DWORD hard;
    uint64_t available;
};

Held HeldBy(const CacheLimits &cache)
{
    return {cache.minimumPages * Page, cache.maximumPages * Page, cache.hardLimits, cache.availablePages * Page};
}

std::string Show(const Held &held)
{
    return "min " + std::to_string(held.minimum) + ", max " + std::to_string(held.maximum) + ", flags " +
           std::to_string(held.hard) + ", available " + std::to_string(held.available);
}

const Held Unchanged = {0, 0, 0xFFFFFFFF, 0};

struct SetFact {
    const char *rule;
    std::string state; // the state file; "" is an untouched system of the caller's width
    int callerBits;
    uint64_t minimum, maximum;
    DWORD flags;
    bool privilege;
    DWORD answer;
    Held after; // Unchanged where the call must leave the cache as it was
};

const SetFact SetFacts[] = {
    // The flags are judged first, before the privilege.
    {"a flag bit outside 0xF", "", 64, 100 * MiB, 200 * MiB, 0x10, true, ERROR_INVALID_PARAMETER, Unchanged},
    {"the maximum switched on and off", "", 64, 100 * MiB, 200 * MiB, 3, true, ERROR_INVALID_PARAMETER, Unchanged},
    {"the minimum switched on and off", "", 64, 100 * MiB, 200 * MiB, 12, true, ERROR_INVALID_PARAMETER, Unchanged},
    {"bad flags count before the privilege", "", 64, 100 * MiB, 200 * MiB, 0x15, false, ERROR_INVALID_PARAMETER,
     Unchanged},
    {"no quota privilege enabled", "", 64, 100 * MiB, 200 * MiB, On, false, ERROR_ACCESS_DENIED, Unchanged},
    {"both sizes -1 empty the cache and change nothing", "flags=5\n", 64, UINT64_MAX, UINT64_MAX, Off, true,
     ERROR_SUCCESS, Unchanged},
    {"a 32-bit caller's -1", "", 32, UINT32_MAX, UINT32_MAX, On, true, ERROR_SUCCESS, Unchanged},
    {"0 keeps both current values", "", 64, 0, 0, On, true, ERROR_SUCCESS, {MiB, 16384 * GiB, 5, 8 * GiB}},
    {"0 keeps the current minimum", "min=5242880\n", 64, 0, 2048 * MiB, On, true, ERROR_SUCCESS,
     {5 * MiB, 2048 * MiB, 5, 8 * GiB}},
    {"0 keeps the current maximum, here below the minimum", "max=2147483648\n", 64, 3000 * MiB, 0, On, true,
     ERROR_INVALID_PARAMETER, Unchanged},
    {"bytes become pages, rounded down", "", 64, MiB + 4095, 64 * MiB + 1, On, true, ERROR_SUCCESS,
     {MiB, 64 * MiB, 5, 8 * GiB}},
    {"a minimum above the maximum", "", 64, 200 * MiB, 100 * MiB, Off, true, ERROR_INVALID_PARAMETER, Unchanged},
    {"a maximum above the largest is lowered to it", "largest=8589934592\n", 64, MiB, 10000 * MiB, On, true,
     ERROR_SUCCESS, {MiB, 8 * GiB, 5, 8 * GiB}},
    {"a minimum above the largest is lowered too", "largest=8589934592\n", 64, 9 * GiB, 10 * GiB, Off, true,
     ERROR_SUCCESS, {8 * GiB, 8 * GiB, 0, MiB}},
    {"a minimum below 20 pages is raised to 20", "", 64, Page, 64 * MiB, Off, true, ERROR_SUCCESS,
     {20 * Page, 64 * MiB, 0, 8 * GiB + MiB - 20 * Page}},
    {"equal sizes with hard limits", "", 64, 100 * MiB, 100 * MiB, On, true, ERROR_INVALID_PARAMETER, Unchanged},
    {"a hard minimum 6 pages below the maximum", "", 64, 64 * MiB - 6 * Page, 64 * MiB, On, true,
     ERROR_INVALID_PARAMETER, Unchanged},
    {"a hard minimum 7 pages below the maximum", "", 64, 64 * MiB - 7 * Page, 64 * MiB, On, true, ERROR_SUCCESS,
     {64 * MiB - 7 * Page, 64 * MiB, 5, 8 * GiB + MiB - (64 * MiB - 7 * Page)}},
    {"a hard minimum 8 pages below the maximum", "", 64, 64 * MiB - 8 * Page, 64 * MiB, On, true, ERROR_SUCCESS,
     {64 * MiB - 8 * Page, 64 * MiB, 5, 8 * GiB + MiB - (64 * MiB - 8 * Page)}},
    {"0 0 on limits 7 pages apart switches both on", "min=67080192\nmax=67108864\n", 64, 0, 0, On, true,
     ERROR_SUCCESS, {64 * MiB - 7 * Page, 64 * MiB, 5, 8 * GiB}},
    {"Clear on a maximum below 20 pages raises both to 20", "min=8192\nmax=16384\n", 64, 0, 0, Off, true,
     ERROR_SUCCESS, {20 * Page, 20 * Page, 0, 8 * GiB - 18 * Page}},
    {"a hard maximum below 16 MiB", "", 64, MiB, 15 * MiB, On, true, ERROR_INVALID_PARAMETER, Unchanged},
    {"a hard maximum of 16 MiB", "", 64, MiB, 16 * MiB, On, true, ERROR_SUCCESS, {MiB, 16 * MiB, 5, 8 * GiB}},
    {"soft limits may be equal and small", "", 64, 15 * MiB, 15 * MiB, Off, true, ERROR_SUCCESS,
     {15 * MiB, 15 * MiB, 0, 8 * GiB - 14 * MiB}},
    {"a hard limit already on and kept is checked", "flags=1\n", 64, 100 * MiB, 100 * MiB, 0, true,
     ERROR_INVALID_PARAMETER, Unchanged},
    {"a hard limit switched off is not", "flags=5\n", 64, 100 * MiB, 100 * MiB, Off, true, ERROR_SUCCESS,
     {100 * MiB, 100 * MiB, 0, 8 * GiB - 99 * MiB}},
    {"the other limit still hard is checked", "flags=4\n", 64, 100 * MiB, 100 * MiB, FILE_CACHE_MAX_HARD_DISABLE,
     true, ERROR_INVALID_PARAMETER, Unchanged},
    {"each bit is set by its ENABLE and otherwise kept", "flags=4\n", 64, MiB, 64 * MiB, FILE_CACHE_MAX_HARD_ENABLE,
     true, ERROR_SUCCESS, {MiB, 64 * MiB, 5, 8 * GiB}},
    {"each bit is cleared by its DISABLE and otherwise kept", "flags=5\n", 64, MiB, 64 * MiB,
     FILE_CACHE_MIN_HARD_DISABLE, true, ERROR_SUCCESS, {MiB, 64 * MiB, 1, 8 * GiB}},
    {"raising the minimum past what the system can spare", "available=1073741824\n", 64, 2000 * MiB, 4000 * MiB,
     On, true, ERROR_NO_SYSTEM_RESOURCES, Unchanged},
    {"raising the minimum by all it can spare", "available=1073741824\n", 64, GiB + MiB, 2 * GiB, On, true,
     ERROR_SUCCESS, {GiB + MiB, 2 * GiB, 5, 0}},
    {"a lowered minimum gives its pages back", "min=104857600\navailable=0\n", 64, 50 * MiB, 200 * MiB, On, true,
     ERROR_SUCCESS, {50 * MiB, 200 * MiB, 5, 50 * MiB}},
    {"Clear on equal sizes", "min=104857600\nmax=104857600\n", 64, 100 * MiB, 100 * MiB, Off, true, ERROR_SUCCESS,
     {100 * MiB, 100 * MiB, 0, 8 * GiB}},
    {"a 32-bit system's largest", "", 32, MiB, 4095 * MiB, On, true, ERROR_SUCCESS, {MiB, 4095 * MiB, 5, GiB}},
};

TEST(CacheModel, SetAnswersAsWindowsDoes)
{
    for (const SetFact &fact : SetFacts) {
        SCOPED_TRACE(fact.rule);
        CacheLimits cache = Parse(fact.state, fact.callerBits);
        const Held before = HeldBy(cache);
        DWORD answer = SetCacheLimits(&cache, fact.minimum, fact.maximum, fact.flags, fact.privilege, fact.callerBits);
        EXPECT_EQ(fact.answer, answer);
        Held expected = fact.after.hard == Unchanged.hard ? before : fact.after;
        EXPECT_EQ(Show(expected), Show(HeldBy(cache)));
    }
}

struct GetFact {
    const char *rule;
    std::string state;
    int processBits, callerBits;
    DWORD answer;
    uint64_t minimum, maximum;
    DWORD flags;
};

const GetFact GetFacts[] = {
    {"an untouched 64-bit system", "", 64, 64, ERROR_SUCCESS, MiB, 17592186044416ull, 0},
    {"an untouched 32-bit system", "", 32, 32, ERROR_SUCCESS, MiB, GiB, 0},
    {"a 32-bit caller on an untouched 64-bit system", "system=x64\n", 32, 32, ERROR_ARITHMETIC_OVERFLOW, 0, 0, 0},
    {"a 32-bit caller, limits that fit 32 bits", "system=x64\nmax=4294963200\n", 32, 32, ERROR_SUCCESS, MiB,
     4294963200ull, 0},
    {"a 32-bit caller, a minimum past 32 bits", "system=x64\nmin=4294967296\n", 32, 32, ERROR_ARITHMETIC_OVERFLOW, 0,
     0, 0},
    {"the hard-limit bits as they are", "flags=5\n", 64, 64, ERROR_SUCCESS, MiB, 17592186044416ull, 5},
};

TEST(CacheModel, GetAnswersAsWindowsDoes)
{
    for (const GetFact &fact : GetFacts) {
        SCOPED_TRACE(fact.rule);
        CacheLimits cache = Parse(fact.state, fact.processBits);
        uint64_t minimum = 0, maximum = 0;
        DWORD flags = 0;
        EXPECT_EQ(fact.answer, GetCacheLimits(cache, fact.callerBits, &minimum, &maximum, &flags));
        EXPECT_EQ(fact.minimum, minimum);
        EXPECT_EQ(fact.maximum, maximum);
        EXPECT_EQ(fact.flags, flags);
    }
}

TEST(CacheModel, WhatAnUntouchedSystemHolds)
{
    const struct {
        std::string state;
        int bits;
        Held held;
        uint64_t largest;
    } cases[] = {
        {"", 64, {MiB, 17592186044416ull, 0, 8 * GiB}, 140737488289792ull},
        {"", 32, {MiB, GiB, 0, GiB}, 4294963200ull},
        {"system=x64\n", 32, {MiB, 17592186044416ull, 0, 8 * GiB}, 140737488289792ull},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.state + " in a " + std::to_string(c.bits) + "-bit process");
        CacheLimits cache = Parse(c.state, c.bits);
        EXPECT_EQ(Show(c.held), Show(HeldBy(cache)));
        EXPECT_EQ(c.largest, cache.largestPages * Page);
    }
}

// A stand-in's own keys and services are its to name: the model keeps their
// values as written, and refuses them for a stand-in that has none.
TEST(CacheModel, AStandInsOwnKeysAreItsToName)
{
    const std::string text = "console=850\nfail.OpenProcessToken=5\n";
    SystemState state;
    std::string error;
    ASSERT_TRUE(ParseSystemState(text, ProcessBits, TestStandIn, &state, &error)) << error;
    EXPECT_EQ("850", state.keys["console"]);
    EXPECT_EQ(5u, ForcedFailure(state, "OpenProcessToken"));
    EXPECT_EQ((DWORD)ERROR_SUCCESS, ForcedFailure(state, "GetSystemFileCacheSize"));
    for (const char *line : {"console=850\n", "fail.OpenProcessToken=5\n"}) {
        EXPECT_FALSE(ParseSystemState(line, ProcessBits, StandInKeys(), &state, &error)) << line;
        EXPECT_NE(std::string::npos, error.find("unknown key")) << line << error;
    }
}

// What a stand-in answers: a failure the state forces comes before the rules,
// and a failed call leaves the state as it was.
TEST(CacheModel, TheStandInsServeForcedFailuresFirst)
{
    SystemState state;
    std::string error;
    ASSERT_TRUE(ParseSystemState("fail.GetSystemFileCacheSize=1314\nfail.SetSystemFileCacheSize=5\n", ProcessBits,
                                 StandInKeys(), &state, &error))
        << error;
    const std::string before = FormatSystemState(state);
    SIZE_T minimum = 7, maximum = 7;
    DWORD flags = 7, answer = 0;
    EXPECT_FALSE(ServeGetSystemFileCacheSize(state, &minimum, &maximum, &flags, &answer));
    EXPECT_EQ(1314u, answer);
    EXPECT_EQ(7u, minimum) << "a failed Get wrote its outputs";
    EXPECT_FALSE(ServeSetSystemFileCacheSize(&state, 100 * MiB, 200 * MiB, On, true, &answer));
    EXPECT_EQ(5u, answer);
    EXPECT_EQ(before, FormatSystemState(state));

    SystemState untouched;
    ASSERT_TRUE(ParseSystemState("", ProcessBits, StandInKeys(), &untouched, &error)) << error;
    EXPECT_TRUE(ServeSetSystemFileCacheSize(&untouched, 100 * MiB, 200 * MiB, On, true, &answer));
    EXPECT_EQ((DWORD)ERROR_SUCCESS, answer);
    EXPECT_TRUE(ServeGetSystemFileCacheSize(untouched, &minimum, &maximum, &flags, &answer));
    EXPECT_EQ(100 * MiB, (uint64_t)minimum);
    EXPECT_EQ(200 * MiB, (uint64_t)maximum);
    EXPECT_EQ(On, flags);
}

// GlobalMemoryStatusEx: the state's memory, up to the last byte of 64 bits; a
// caller that does not say the structure's size, or a forced failure, gets no
// answer.
TEST(CacheModel, MemoryIsServedFromTheState)
{
    const struct {
        const char *state;
        bool served;
        DWORD error;
        uint64_t total;
    } cases[] = {
        {"", true, ERROR_SUCCESS, ProcessBits == 64 ? 8589934592ull : 3221225472ull},
        {"system=x64\n", true, ERROR_SUCCESS, 8589934592ull},
        {"memory=3221225473\n", true, ERROR_SUCCESS, 3221225473ull},
        {"memory=18446744073709551615\n", true, ERROR_SUCCESS, UINT64_MAX},
        {"fail.GlobalMemoryStatusEx=5\n", false, 5, 0},
    };
    for (const auto &c : cases) {
        SystemState state;
        std::string error;
        ASSERT_TRUE(ParseSystemState(c.state, ProcessBits, StandInKeys(), &state, &error)) << error;
        MEMORYSTATUSEX status = {};
        status.dwLength = sizeof(status);
        DWORD answer = 0;
        EXPECT_EQ(c.served ? TRUE : FALSE, ServeGlobalMemoryStatusEx(state, &status, &answer)) << c.state;
        EXPECT_EQ(c.error, answer) << c.state;
        EXPECT_EQ(c.total, status.ullTotalPhys) << c.state;
    }
    SystemState state;
    std::string error;
    ASSERT_TRUE(ParseSystemState("", ProcessBits, StandInKeys(), &state, &error)) << error;
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof(status) - 1;
    DWORD answer = 0;
    EXPECT_FALSE(ServeGlobalMemoryStatusEx(state, &status, &answer));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, answer);
    EXPECT_EQ(0u, status.ullTotalPhys);
}

TEST(CacheModel, AStateFileOutOfRangeIsRefused)
{
    const struct {
        std::string state;
        int bits;
    } refused[] = {
        {"colour=blue\n", 64},
        {"min\n", 64},
        {"min=-1\n", 64},
        {"min=abc\n", 64},
        {"min=4097\n", 64},
        {"min=1000\n", 32},
        {"max=18446744073709551616\n", 64},
        {"max=18446744073709551615\n", 64},
        {"largest=0\n", 64},
        {"available=1\n", 64},
        {"flags=2\n", 64},
        {"flags=3\n", 64},
        {"flags=16\n", 64},
        {"system=x86\n", 64},
        {"system=arm64\n", 32},
        {"system=x86\nmax=4294967296\n", 32},
        {"min=4294967296\nsystem=x86\n", 32},
        {"console=851\n", 64},
        {"privilege=held\n", 64},
        {"fail.ExitProcess=5\n", 64},
        {"fail.FormatMessageW=5\n", 64},
        {"fail.OpenProcessToken=0\n", 64},
        {"fail.GetSystemFileCacheSize=4294967296\n", 64},
        {"memory=0\n", 64},
        {"memory=18446744073709551616\n", 64},
        {"memory=8GB\n", 64},
    };
    for (const auto &c : refused) {
        SystemState state;
        std::string error;
        EXPECT_FALSE(ParseSystemState(c.state, c.bits, TestStandIn, &state, &error)) << c.state;
        EXPECT_NE("", error) << c.state;
    }
}

// A minimum lowered on an x86 system whose spare memory is at its top: the
// state file that follows still reads back.
TEST(CacheModel, WhatALoweredMinimumGivesBackStaysWithinTheSystem)
{
    SystemState state;
    std::string error;
    ASSERT_TRUE(ParseSystemState("min=4294963200\nmax=4294963200\navailable=4294963200\n", 32, StandInKeys(),
                                 &state, &error))
        << error;
    EXPECT_EQ((DWORD)ERROR_SUCCESS, SetCacheLimits(&state.cache, 1 * MiB, 16 * MiB, 10, true, 32));
    SystemState again;
    EXPECT_TRUE(ParseSystemState(FormatSystemState(state), 32, StandInKeys(), &again, &error)) << error;
}

TEST(CacheModel, TheStateFileReadsBackWhatItWrote)
{
    SystemState state;
    std::string error;
    ASSERT_TRUE(ParseSystemState("min=1236992\nmax=4096\nflags=4\nsystem=x64\nlargest=8192\navailable=0\n"
                                 "console=850\nfail.OpenProcessToken=6\n",
                                 32, TestStandIn, &state, &error))
        << error;
    // The system's kind sets the defaults first, wherever its line stands.
    EXPECT_EQ("system=x64\nmin=1236992\nmax=4096\nflags=4\nlargest=8192\navailable=0\nmemory=8589934592\n"
              "console=850\nfail.OpenProcessToken=6\n",
              FormatSystemState(state));
    SystemState again;
    ASSERT_TRUE(ParseSystemState(FormatSystemState(state), 32, TestStandIn, &again, &error)) << error;
    EXPECT_EQ(FormatSystemState(state), FormatSystemState(again));
}

} // namespace
