// VelmoraState: what a wanted state of the file cache limits is, and the rules
// by which it is read, judged and found in place. No system call is made here:
// the program hands in what the system said.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>

// A share of memory in whole ten-thousandths of a percent: 12.5 % is 125000,
// 100 % is 1000000.
const uint32_t ShareScale = 10000;
const uint32_t WholeShare = 100 * ShareScale;

// One limit of a wanted state: in whole MB, or as a share of physical memory.
struct WantedLimit {
    bool hasMB = false;
    uint64_t mb = 0;
    bool hasShare = false;
    uint32_t share = 0;
};

// What the input asks for. hardLimits true: both hard limits on, at the two sizes.
// hardLimits false: both off, the sizes as they are.
struct WantedState {
    bool hardLimits = true;
    WantedLimit minimum;
    WantedLimit maximum;
};

// How a wanted state fails, each with the program's own exit code.
enum class Refusal {
    None = 0,
    InputNotValid = 1,
    CannotHold = 2,
    MemoryUnreadable = 3,
    SystemRefused = 4,
};

// The sizes a wanted state means on this machine now.
struct ResolvedState {
    bool hardLimits = true;
    uint64_t minimumMB = 0;
    uint64_t maximumMB = 0;
};

// The limits in force, as GetSystemFileCacheSize gives them.
struct LimitsInForce {
    uint64_t minimumBytes = 0;
    uint64_t maximumBytes = 0;
    DWORD flags = 0;
};

// The machine's physical memory, where it could be read.
struct Memory {
    bool known = false;
    uint64_t bytes = 0;
};

// Reads the wanted state from its JSON text (one object, an optional UTF-8 byte
// order mark), checked exactly against the instance schema: property names as
// written, each of its type and range. False, with the reason, for input that is
// not valid.
bool ParseWantedState(const std::string &text, WantedState *wanted, std::string *why);

// Reads the wanted state from the command line's two sizes, each "<whole>MB" or
// "<decimal>%" (--minimum 256MB --maximum 12.5%): both hard limits on, by the
// same rules as the JSON. False, with the reason, for sizes that are not valid.
bool ParseWantedFlags(const std::string &minimum, const std::string &maximum, WantedState *wanted, std::string *why);

// Whether the wanted state holds a share of memory, which needs the memory read.
bool NeedsMemory(const WantedState &wanted);

// The whole MB of a share of memory, rounded down:
// floor(memory * share / (100 * 10^4 * 2^20)), exact for every 64-bit memory size.
uint64_t ShareOfMemoryMB(uint64_t memoryBytes, uint32_t share);

// Judges the wanted state on this machine: the sizes it means, or why it cannot
// hold (CannotHold) or cannot be worked out (MemoryUnreadable). capAtMemory
// refuses a maximum above the physical memory, which caps nothing; largestMB is
// the largest size the program takes.
Refusal ResolveWantedState(const WantedState &wanted, const Memory &memory, bool capAtMemory, uint64_t largestMB,
                           ResolvedState *resolved, std::string *why);

// Whether the limits in force are the resolved state.
bool LimitsHold(const ResolvedState &resolved, const LimitsInForce &limits);

// Whether the limits in force look as the system leaves an asked state that it
// lowered: both hard limits on, the minimum as asked, the maximum below it.
bool LimitsLowered(const ResolvedState &resolved, const LimitsInForce &limits);

// The state in force as one line of JSON in the instance schema's shape: the
// hard limits (null for one alone), the sizes in MB, or as the wanted state's
// share where the size in force is what that share gives now, and the bytes and
// flags in force; with the verdict where test asks for it.
std::string StateJson(const LimitsInForce &limits, const WantedState &wanted, const Memory &memory,
                      bool withVerdict, bool inDesiredState);

// The wanted state as one line of JSON in the instance schema's shape, as asked:
// the hard limits, and each size in MB or as a share.
std::string WantedJson(const WantedState &wanted);

// The resolved state as one line of JSON in the instance schema's shape.
std::string ResolvedJson(const ResolvedState &resolved);

// A message for dsc: one JSON object a line, its one key the level ("error",
// "warn", "info", "debug", "trace") and the text its value.
std::string MessageJson(const char *level, const std::string &text);

// A share as its decimal is written, without trailing zeros ("12.5", "25").
std::string ShareText(uint32_t share);
