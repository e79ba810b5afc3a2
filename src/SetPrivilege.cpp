// Velmora: enabling the quota privilege that changing the cache limits needs.

#include "Velmora.h"

int SetPrivilege(HANDLE token)
{
    LUID luid;
    if (!LookupPrivilegeValueW(NULL, L"SeIncreaseQuotaPrivilege", &luid)) {
        PrintLastError(VELMORA_FILE, "LookupPrivilegeValue", __LINE__);
        return 0;
    }

    TOKEN_PRIVILEGES newState;
    newState.PrivilegeCount = 1;
    newState.Privileges[0].Luid = luid;
    newState.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!AdjustTokenPrivileges(token, FALSE, &newState, sizeof(TOKEN_PRIVILEGES), NULL, NULL)) {
        PrintLastError(VELMORA_FILE, "AdjustTokenPrivileges", __LINE__);
        return 0;
    }

    // The call succeeds even when the token does not hold the privilege at all;
    // only the last error tells.
    if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
        PrintLastError(VELMORA_FILE, "AdjustTokenPrivileges", __LINE__);
        return 0;
    }
    return 1;
}
