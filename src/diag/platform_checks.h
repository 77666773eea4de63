// The terminal-services checks of the platform identification: the registry's product suite on
// old systems, and the suite verification of the version functions, looked up by the names the
// caller gives (so that each failed lookup can be tested). The decisions on what they return
// are in platform_rules.h.
#ifndef OSSE_PLATFORM_CHECKS_H
#define OSSE_PLATFORM_CHECKS_H

#include <windows.h>

#include "diag/platform_rules.h"

namespace osse_platform {

static_assert(kPlatformNT == VER_PLATFORM_WIN32_NT, "platform id of NT");

inline VersionFacts versionFacts(const OSVERSIONINFOEXA& v)
{
    return VersionFacts{(Uint32)v.dwPlatformId, (Uint32)v.dwMajorVersion, (Uint32)v.dwMinorVersion,
                        (Uint16)v.wSuiteMask};
}

inline VersionFlags versionFlags(bool queried, const OSVERSIONINFOEXA& v)
{
    return versionFlags(queried, versionFacts(v));
}

// "Terminal Server" in the product suite of an NT system before version 5.
inline bool registryNamesTerminalServer()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\ProductOptions", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    char value[1024] = {};
    DWORD type = 0, size = sizeof value - 2;
    bool found = RegQueryValueExA(key, "ProductSuite", nullptr, &type, (BYTE*)value, &size) ==
                     ERROR_SUCCESS &&
                 type == REG_MULTI_SZ && multiStringContains(value, size, "Terminal Server");
    RegCloseKey(key);
    return found;
}

// One terminal-services check for `suiteBit`: `confirmed` when the system has the suite, 0 when
// an NT system before version 5 names "Terminal Server" in its product suite, 2 otherwise and
// when a lookup fails (reported through `onFailure` with probes 10, 20, 30, 40).
inline Uint32 terminalServicesCheck(const OSVERSIONINFOEXA& v, WORD suiteBit, Uint32 confirmed,
                                    const LookupNames& names, LookupFailureFn onFailure)
{
    if (v.dwMajorVersion < 5)
        return (v.dwPlatformId == VER_PLATFORM_WIN32_NT && registryNamesTerminalServer()) ? 0 : 2;

    typedef ULONGLONG(WINAPI * ConditionMaskFn)(ULONGLONG, DWORD, BYTE);
    typedef BOOL(WINAPI * VerifyFn)(LPOSVERSIONINFOEXA, DWORD, DWORDLONG);
    HMODULE ntdll = GetModuleHandleA(names.ntdll);
    if (!ntdll) {
        onFailure(kFailedGetModuleHandle, GetLastError(), 10, names.ntdll);
        return 2;
    }
    ConditionMaskFn setMask = (ConditionMaskFn)(void*)GetProcAddress(ntdll, names.conditionMaskFn);
    if (!setMask) {
        onFailure(kFailedGetProcAddress, GetLastError(), 20, names.conditionMaskFn);
        return 2;
    }
    HMODULE kernel = GetModuleHandleA(names.kernel32);
    if (!kernel) {
        onFailure(kFailedGetModuleHandle, GetLastError(), 30, names.kernel32);
        return 2;
    }
    VerifyFn verify = (VerifyFn)(void*)GetProcAddress(kernel, names.verifyVersionFn);
    if (!verify) {
        onFailure(kFailedGetProcAddress, GetLastError(), 40, names.verifyVersionFn);
        return 2;
    }
    OSVERSIONINFOEXA wanted = {};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.wSuiteMask = suiteBit;
    ULONGLONG condition = setMask(0, VER_SUITENAME, VER_AND);
    return verify(&wanted, VER_SUITENAME, condition) ? confirmed : 2;
}

}  // namespace osse_platform

#endif
