// How a Windows system takes new system file cache limits, shared by the
// simulated system and by the cache simulator DLL that the Wine tests use.
#pragma once

#include <stdint.h>

// The flag bits of SetSystemFileCacheSize, as <windows.h> names them.
const uint32_t CacheMaxHardEnable = 0x1;
const uint32_t CacheMaxHardDisable = 0x2;
const uint32_t CacheMinHardEnable = 0x4;
const uint32_t CacheMinHardDisable = 0x8;

// Whether the system takes these arguments: known bits only, no limit both
// switched on and off, and the minimum not above the maximum. Otherwise it
// answers ERROR_INVALID_PARAMETER.
inline bool CacheLimitsAccepted(uint64_t minimum, uint64_t maximum, uint32_t flags)
{
    const uint32_t maxBoth = CacheMaxHardEnable | CacheMaxHardDisable;
    const uint32_t minBoth = CacheMinHardEnable | CacheMinHardDisable;
    return (flags & ~(maxBoth | minBoth)) == 0 && (flags & maxBoth) != maxBoth && (flags & minBoth) != minBoth &&
           minimum <= maximum;
}

// The hard-limit bits (1 and 4) in force after a call with these flags: each
// limit keeps its state unless the call switches it on or off.
inline uint32_t CacheFlagsAfter(uint32_t current, uint32_t flags)
{
    if (flags & CacheMaxHardEnable)
        current |= CacheMaxHardEnable;
    if (flags & CacheMaxHardDisable)
        current &= ~CacheMaxHardEnable;
    if (flags & CacheMinHardEnable)
        current |= CacheMinHardEnable;
    if (flags & CacheMinHardDisable)
        current &= ~CacheMinHardEnable;
    return current;
}
