// The system file cache limits as the Windows kernel keeps them. Each rule names
// the routine that applies it on Windows, from the Windows Research Kernel
// (ex/sysinfo.c: NtSetSystemInformation and NtQuerySystemInformation for
// SystemFileCacheInformationEx; mm/wslist.c: MmAdjustWorkingSetSizeEx and
// MmQuerySystemCacheWorkingSetInformation), the checks current 64-bit Windows
// makes in MiCheckWsLimits (called by MmAdjustWorkingSetSizeEx), where they
// differ from that kernel's, and Microsoft Learn's pages on
// GetSystemFileCacheSize, SetSystemFileCacheSize and GlobalMemoryStatusEx. A
// rule that no published source gives is marked as a stand-in.

#include "CacheModel.h"

#include <vector>

namespace {

const DWORD HardLimitBits = FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MIN_HARD_ENABLE;
const DWORD KnownFlagBits = FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MAX_HARD_DISABLE | FILE_CACHE_MIN_HARD_ENABLE |
                            FILE_CACHE_MIN_HARD_DISABLE;

// MiCheckWsLimits: MmMinimumWorkingSetSize, the smallest minimum (and the
// smallest maximum it raises along with it).
const uint64_t SmallestMinimumPages = 20;
// MiCheckWsLimits: with a hard limit, the minimum must stay more than this many
// pages below the maximum (the 2003 kernel's MM_FLUID_WORKING_SET was 8).
const uint64_t HardGapPages = 6;
// MmAdjustWorkingSetSizeEx: the smallest maximum that may be hard, 16 MiB.
const uint64_t SmallestHardMaximumPages = 4096;

// What an untouched system holds. x64: what current 64-bit Windows reports
// (1 MiB, 16 TiB, no hard limit) and takes at the most. x86: a stand-in for a
// 32-bit system, whose published defaults vary with its memory: 1 MiB, 1 GiB,
// and the largest page-aligned 32-bit number.
CacheLimits Untouched(SystemKind system)
{
    CacheLimits cache;
    cache.system = system;
    cache.minimumPages = 1048576 / CachePageBytes;
    cache.hardLimits = 0;
    if (system == SystemKind::X64) {
        cache.maximumPages = 17592186044416ull / CachePageBytes;
        cache.largestPages = 140737488289792ull / CachePageBytes;
        cache.availablePages = 8589934592ull / CachePageBytes; // stand-in: 8 GiB to spare
    } else {
        cache.maximumPages = 1073741824 / CachePageBytes;
        cache.largestPages = 4294963200ull / CachePageBytes;
        cache.availablePages = 1073741824 / CachePageBytes; // stand-in: 1 GiB to spare
    }
    return cache;
}

// The physical memory of an untouched system: a stand-in, since every machine
// has its own: 8 GiB for x64, 3 GiB for x86.
uint64_t UntouchedMemory(SystemKind system)
{
    return system == SystemKind::X64 ? 8589934592ull : 3221225472ull;
}

// The largest byte count a limit can have on the system: what its ULONG_PTR holds.
uint64_t TopBytes(SystemKind system)
{
    uint64_t top = system == SystemKind::X64 ? UINT64_MAX : UINT32_MAX;
    return top / CachePageBytes * CachePageBytes;
}

// The services the model serves, which a state file may make fail whatever the stand-in.
const char *const CacheServices[] = {"GetSystemFileCacheSize", "SetSystemFileCacheSize", "GlobalMemoryStatusEx"};

// A decimal number from 0 to limit, digits only.
bool ParseNumber(const std::string &text, uint64_t limit, uint64_t *value)
{
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        uint64_t digit = (uint64_t)(c - '0');
        if (number > (UINT64_MAX - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    if (number > limit)
        return false;
    *value = number;
    return true;
}

std::string Describe(const char *format, const std::string &key, const std::string &value, uint64_t limit = 0)
{
    char text[256];
    snprintf(text, sizeof(text), format, key.c_str(), (unsigned long long)limit);
    return std::string(text) + ", got \"" + value + "\"";
}

bool IsFailableService(const std::string &name, const StandInKeys &standIn)
{
    for (const char *service : CacheServices)
        if (name == service)
            return true;
    for (const std::string &service : standIn.failableServices)
        if (name == service)
            return true;
    return false;
}

// Applies one key other than system; false, with the reason, for a bad one.
bool ApplyKey(const std::string &key, const std::string &value, const StandInKeys &standIn, SystemState *state,
              std::string *error)
{
    CacheLimits &cache = state->cache;
    uint64_t top = TopBytes(cache.system);
    uint64_t number = 0;
    if (key == "min" || key == "max" || key == "largest" || key == "available") {
        if (!ParseNumber(value, top, &number) || number % CachePageBytes != 0 ||
            (key == "largest" && number == 0)) {
            *error = Describe("%s needs bytes in whole pages of 4096, up to %llu", key, value, top);
            return false;
        }
        uint64_t pages = number / CachePageBytes;
        if (key == "min")
            cache.minimumPages = pages;
        else if (key == "max")
            cache.maximumPages = pages;
        else if (key == "largest")
            cache.largestPages = pages;
        else
            cache.availablePages = pages;
    } else if (key == "memory") {
        if (!ParseNumber(value, UINT64_MAX, &number) || number == 0) {
            *error = Describe("%s needs bytes of physical memory, 1 or more", key, value);
            return false;
        }
        state->physicalMemory = number;
    } else if (key == "flags") {
        if (!ParseNumber(value, HardLimitBits, &number) || (number & ~(uint64_t)HardLimitBits) != 0) {
            *error = Describe("%s holds only the bits 1 and 4", key, value);
            return false;
        }
        cache.hardLimits = (DWORD)number;
    } else if (standIn.keys.count(key) != 0) {
        std::string wanted = standIn.keys.at(key)(value);
        if (!wanted.empty()) {
            *error = key + " " + wanted + ", got \"" + value + "\"";
            return false;
        }
        state->keys[key] = value;
    } else if (key.compare(0, 5, "fail.") == 0 && IsFailableService(key.substr(5), standIn)) {
        if (!ParseNumber(value, UINT32_MAX, &number) || number == 0) {
            *error = Describe("%s needs a nonzero error code", key, value);
            return false;
        }
        state->failures[key.substr(5)] = (DWORD)number;
    } else {
        *error = "unknown key \"" + key + "\"";
        return false;
    }
    return true;
}

} // namespace

DWORD SetCacheLimits(CacheLimits *cache, uint64_t minimumBytes, uint64_t maximumBytes, DWORD flags,
                     bool privilegeEnabled, int callerBits)
{
    // NtSetSystemInformation (SystemFileCacheInformationEx): unknown flag bits, or
    // one limit switched both on and off, are refused before anything else.
    if ((flags & ~KnownFlagBits) != 0 ||
        (flags & (FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MAX_HARD_DISABLE)) ==
            (FILE_CACHE_MAX_HARD_ENABLE | FILE_CACHE_MAX_HARD_DISABLE) ||
        (flags & (FILE_CACHE_MIN_HARD_ENABLE | FILE_CACHE_MIN_HARD_DISABLE)) ==
            (FILE_CACHE_MIN_HARD_ENABLE | FILE_CACHE_MIN_HARD_DISABLE))
        return ERROR_INVALID_PARAMETER;
    // NtSetSystemInformation: SeSinglePrivilegeCheck(SeIncreaseQuotaPrivilege)
    // fails with STATUS_ACCESS_DENIED.
    if (!privilegeEnabled)
        return ERROR_ACCESS_DENIED;
    // MmAdjustWorkingSetSizeEx: both sizes (SIZE_T)-1 empty the cache's working
    // set and change nothing else. How WOW64 widens a 32-bit caller's -1 is not
    // published: taken as -1 (stand-in).
    uint64_t minusOne = callerBits == 64 ? UINT64_MAX : UINT32_MAX;
    if (minimumBytes == minusOne && maximumBytes == minusOne)
        return ERROR_SUCCESS;
    // MmAdjustWorkingSetSizeEx: bytes become pages, rounded down; a size of 0
    // keeps that limit's current value.
    uint64_t minimum = minimumBytes == 0 ? cache->minimumPages : minimumBytes / CachePageBytes;
    uint64_t maximum = maximumBytes == 0 ? cache->maximumPages : maximumBytes / CachePageBytes;
    // MmAdjustWorkingSetSizeEx: STATUS_BAD_WORKING_SET_LIMIT.
    if (minimum > maximum)
        return ERROR_INVALID_PARAMETER;
    // MiCheckWsLimits: a limit above MmMaximumWorkingSetSize is lowered to it, a
    // minimum below MmMinimumWorkingSetSize raised to it, and a maximum below that
    // raised with it, so that the minimum never ends above the maximum; the
    // status, STATUS_WORKING_SET_LIMIT_RANGE, counts as success.
    if (maximum > cache->largestPages)
        maximum = cache->largestPages;
    if (minimum > cache->largestPages)
        minimum = cache->largestPages;
    if (minimum < SmallestMinimumPages) {
        minimum = SmallestMinimumPages;
        if (maximum < SmallestMinimumPages)
            maximum = SmallestMinimumPages;
    }
    // MmAdjustWorkingSetSizeEx: the hard limits in force after the call.
    DWORD hardLimits = cache->hardLimits;
    if (flags & FILE_CACHE_MAX_HARD_ENABLE)
        hardLimits |= FILE_CACHE_MAX_HARD_ENABLE;
    if (flags & FILE_CACHE_MAX_HARD_DISABLE)
        hardLimits &= ~(DWORD)FILE_CACHE_MAX_HARD_ENABLE;
    if (flags & FILE_CACHE_MIN_HARD_ENABLE)
        hardLimits |= FILE_CACHE_MIN_HARD_ENABLE;
    if (flags & FILE_CACHE_MIN_HARD_DISABLE)
        hardLimits &= ~(DWORD)FILE_CACHE_MIN_HARD_ENABLE;
    if (hardLimits != 0) {
        // MiCheckWsLimits: a hard limit needs the minimum more than HardGapPages
        // below the maximum (STATUS_BAD_WORKING_SET_LIMIT).
        if (minimum + HardGapPages >= maximum)
            return ERROR_INVALID_PARAMETER;
        // MmAdjustWorkingSetSizeEx: with a hard limit, no maximum below 16 MiB.
        if (maximum < SmallestHardMaximumPages)
            return ERROR_INVALID_PARAMETER;
    }
    // MmAdjustWorkingSetSizeEx: a raised minimum is charged to the resident
    // available pages; more than the system can spare is STATUS_INSUFFICIENT_RESOURCES.
    if (minimum > cache->minimumPages && minimum - cache->minimumPages > cache->availablePages)
        return ERROR_NO_SYSTEM_RESOURCES;
    // What a lowered minimum gives back is kept within what the state file can
    // hold: the system's addresses (a stand-in bound; the kernel counts pages).
    uint64_t spare = cache->availablePages + cache->minimumPages - minimum;
    uint64_t topPages = TopBytes(cache->system) / CachePageBytes;
    cache->availablePages = spare > topPages ? topPages : spare;
    cache->minimumPages = minimum;
    cache->maximumPages = maximum;
    cache->hardLimits = hardLimits;
    return ERROR_SUCCESS;
}

DWORD GetCacheLimits(const CacheLimits &cache, int callerBits, uint64_t *minimumBytes, uint64_t *maximumBytes,
                     DWORD *flags)
{
    // MmQuerySystemCacheWorkingSetInformation: the limits in bytes, and of the
    // flags only the hard-limit bits.
    uint64_t minimum = cache.minimumPages * CachePageBytes;
    uint64_t maximum = cache.maximumPages * CachePageBytes;
    // GetSystemFileCacheSize in a 32-bit process on 64-bit Windows: a limit that
    // does not fit its 32-bit SIZE_T is ERROR_ARITHMETIC_OVERFLOW.
    if (callerBits == 32 && (minimum > UINT32_MAX || maximum > UINT32_MAX))
        return ERROR_ARITHMETIC_OVERFLOW;
    *minimumBytes = minimum;
    *maximumBytes = maximum;
    *flags = cache.hardLimits & HardLimitBits;
    return ERROR_SUCCESS;
}

BOOL ServeGetSystemFileCacheSize(const SystemState &state, PSIZE_T minimum, PSIZE_T maximum, PDWORD flags,
                                 DWORD *error)
{
    uint64_t minimumBytes = 0;
    uint64_t maximumBytes = 0;
    DWORD hardLimits = 0;
    *error = ForcedFailure(state, "GetSystemFileCacheSize");
    if (*error == ERROR_SUCCESS)
        *error = GetCacheLimits(state.cache, ProcessBits, &minimumBytes, &maximumBytes, &hardLimits);
    if (*error != ERROR_SUCCESS)
        return FALSE;
    *minimum = (SIZE_T)minimumBytes;
    *maximum = (SIZE_T)maximumBytes;
    *flags = hardLimits;
    return TRUE;
}

BOOL ServeSetSystemFileCacheSize(SystemState *state, SIZE_T minimum, SIZE_T maximum, DWORD flags,
                                 bool privilegeEnabled, DWORD *error)
{
    *error = ForcedFailure(*state, "SetSystemFileCacheSize");
    if (*error == ERROR_SUCCESS)
        *error = SetCacheLimits(&state->cache, minimum, maximum, flags, privilegeEnabled, ProcessBits);
    return *error == ERROR_SUCCESS;
}

BOOL ServeGlobalMemoryStatusEx(const SystemState &state, LPMEMORYSTATUSEX status, DWORD *error)
{
    *error = ForcedFailure(state, "GlobalMemoryStatusEx");
    if (*error != ERROR_SUCCESS)
        return FALSE;
    // Microsoft Learn, GlobalMemoryStatusEx: the caller sets dwLength to the
    // structure's size first. The error for one that does not is a stand-in.
    if (status == NULL || status->dwLength != sizeof(MEMORYSTATUSEX)) {
        *error = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // Only the total is the state's; the rest are stand-ins of the same order:
    // half the memory free, a page file as large as the memory, and the user
    // address space of a process (2 GiB for x86, 128 TiB for x64).
    uint64_t addressSpace = ProcessBits == 64 ? 140737488355328ull : 2147483648ull;
    status->dwMemoryLoad = 50;
    status->ullTotalPhys = state.physicalMemory;
    status->ullAvailPhys = state.physicalMemory / 2;
    status->ullTotalPageFile = state.physicalMemory;
    status->ullAvailPageFile = state.physicalMemory / 2;
    status->ullTotalVirtual = addressSpace;
    status->ullAvailVirtual = addressSpace / 2;
    // Microsoft Learn: reserved, always 0.
    status->ullAvailExtendedVirtual = 0;
    return TRUE;
}

DWORD ForcedFailure(const SystemState &state, const char *service)
{
    auto failure = state.failures.find(service);
    return failure == state.failures.end() ? ERROR_SUCCESS : failure->second;
}

bool ParseSystemState(const std::string &text, int processBits, const StandInKeys &standIn, SystemState *state,
                      std::string *error)
{
    struct Entry {
        int line;
        std::string key, value;
    };
    std::vector<Entry> entries;
    SystemKind system = processBits == 64 ? SystemKind::X64 : SystemKind::X86;
    size_t start = 0;
    for (int number = 1; start < text.size(); number++) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            *error = "line " + std::to_string(number) + ": expected key=value, got \"" + line + "\"";
            return false;
        }
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (key != "system") {
            entries.push_back({number, key, value});
        } else if (value == "x64") {
            system = SystemKind::X64;
        } else if (value == "x86" && processBits == 32) {
            system = SystemKind::X86;
        } else {
            *error = "line " + std::to_string(number) + ": system is x64, or x86 for a 32-bit process, got \"" +
                     value + "\"";
            return false;
        }
    }
    // The system's kind sets every default; the other keys then override them.
    SystemState parsed;
    parsed.cache = Untouched(system);
    parsed.physicalMemory = UntouchedMemory(system);
    for (const auto &entry : entries) {
        if (!ApplyKey(entry.key, entry.value, standIn, &parsed, error)) {
            *error = "line " + std::to_string(entry.line) + ": " + *error;
            return false;
        }
    }
    *state = parsed;
    return true;
}

std::string FormatSystemState(const SystemState &state)
{
    const CacheLimits &cache = state.cache;
    std::string text = std::string("system=") + (cache.system == SystemKind::X64 ? "x64" : "x86") +
                       "\nmin=" + std::to_string(cache.minimumPages * CachePageBytes) +
                       "\nmax=" + std::to_string(cache.maximumPages * CachePageBytes) +
                       "\nflags=" + std::to_string(cache.hardLimits) +
                       "\nlargest=" + std::to_string(cache.largestPages * CachePageBytes) +
                       "\navailable=" + std::to_string(cache.availablePages * CachePageBytes) +
                       "\nmemory=" + std::to_string(state.physicalMemory) + "\n";
    for (const auto &key : state.keys)
        text += key.first + "=" + key.second + "\n";
    for (const auto &failure : state.failures)
        text += "fail." + failure.first + "=" + std::to_string(failure.second) + "\n";
    return text;
}

bool ReadSystemState(FILE *file, int processBits, const StandInKeys &standIn, SystemState *state,
                     std::string *error)
{
    std::string text;
    if (file != NULL) {
        char buffer[4096];
        size_t got = 0;
        while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0)
            text.append(buffer, got);
    }
    return ParseSystemState(text, processBits, standIn, state, error);
}
