// The system file cache limits as the Windows kernel keeps them, the rules by
// which GetSystemFileCacheSize and SetSystemFileCacheSize read and change them,
// how a stand-in of Windows serves those two calls, and the state file that
// holds a simulated system between runs. One model for both stand-ins: the
// simulated system (sim/native) and CACHESIM.dll (sim/wine), which serves the
// same two calls to Velmora.exe under Wine. The stand-ins keep only their own
// file I/O and their own way of setting the last error.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

// The kernel keeps the limits in pages of this size.
const uint64_t CachePageBytes = 4096;

// The width of SIZE_T in the process a stand-in serves: 32 or 64.
const int ProcessBits = (int)sizeof(SIZE_T) * 8;

// How a stand-in ends the process when its state file does not parse: with
// this exit code and one line on standard error.
const int StateRefusedExitCode = 2;

enum class SystemKind { X86, X64 };

// What the kernel holds for the system cache's working set.
struct CacheLimits {
    SystemKind system = SystemKind::X64;
    uint64_t minimumPages = 0;
    uint64_t maximumPages = 0;
    // FILE_CACHE_MAX_HARD_ENABLE and FILE_CACHE_MIN_HARD_ENABLE: which limits are hard.
    DWORD hardLimits = 0;
    // The largest limit the system takes.
    uint64_t largestPages = 0;
    // How much the minimum may still grow: memory the system can spare for it.
    uint64_t availablePages = 0;
};

// A whole simulated system: the cache limits, the physical memory that
// GlobalMemoryStatusEx reports, the calls the state file makes
// fail ("fail.NAME=code", honoured by whoever serves NAME: the model the two
// cache calls, a stand-in the rest), and the stand-in's own keys as the file
// writes them.
struct SystemState {
    CacheLimits cache;
    uint64_t physicalMemory = 0;
    std::map<std::string, DWORD> failures;
    std::map<std::string, std::string> keys;
};

// What a stand-in serves beyond the two cache calls, for the state file: the
// services of its own that a "fail." key may name, and its own keys, each with
// a check that gives "" for a good value, or what a good one is.
typedef std::string (*KeyCheck)(const std::string &value);
struct StandInKeys {
    std::vector<std::string> failableServices;
    std::map<std::string, KeyCheck> keys;
};

// SetSystemFileCacheSize: the answer (ERROR_SUCCESS or an error code) for a
// caller whose SIZE_T has callerBits (32 or 64) and whose token has the quota
// privilege enabled or not. The limits change only on success.
DWORD SetCacheLimits(CacheLimits *cache, uint64_t minimumBytes, uint64_t maximumBytes, DWORD flags,
                     bool privilegeEnabled, int callerBits);

// GetSystemFileCacheSize: the answer, and on success the limits in bytes and the
// hard-limit flags.
DWORD GetCacheLimits(const CacheLimits &cache, int callerBits, uint64_t *minimumBytes, uint64_t *maximumBytes,
                     DWORD *flags);

// The two calls as a stand-in serves them to a process of ProcessBits: first a
// failure the state forces, then the kernel's rules. TRUE, or FALSE with the
// error code for the last error in *error. Set changes the state only on success.
BOOL ServeGetSystemFileCacheSize(const SystemState &state, PSIZE_T minimum, PSIZE_T maximum, PDWORD flags,
                                 DWORD *error);
BOOL ServeSetSystemFileCacheSize(SystemState *state, SIZE_T minimum, SIZE_T maximum, DWORD flags,
                                 bool privilegeEnabled, DWORD *error);

// GlobalMemoryStatusEx as a stand-in serves it: first a failure the state
// forces, then the memory the state holds. TRUE, or FALSE with the error code.
BOOL ServeGlobalMemoryStatusEx(const SystemState &state, LPMEMORYSTATUSEX status, DWORD *error);

// The error code with which the state makes every call of the service fail, or
// ERROR_SUCCESS where it does not.
DWORD ForcedFailure(const SystemState &state, const char *service);

// The state file, one key=value a line (see the development guide's table):
// the cache's keys and memory, "fail." keys for the services the model serves
// (the two cache calls and GlobalMemoryStatusEx) and the stand-in's
// services, and the stand-in's own keys. processBits is the width of SIZE_T in
// the process the system runs (its default system: x86 for 32, x64 for 64). On
// a bad line, error says which and why.
bool ParseSystemState(const std::string &text, int processBits, const StandInKeys &standIn, SystemState *state,
                      std::string *error);
std::string FormatSystemState(const SystemState &state);

// Reads a state file that is open for reading, or an untouched system where
// file is NULL (no file), and parses it as ParseSystemState does.
bool ReadSystemState(FILE *file, int processBits, const StandInKeys &standIn, SystemState *state,
                     std::string *error);
