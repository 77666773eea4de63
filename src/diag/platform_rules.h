// The decisions of the platform identification, apart from where their inputs come from: the
// version flags from a version record, and the terminal-services checks with their module and
// function names and failure reporting supplied by the caller.
#ifndef OSSE_PLATFORM_RULES_H
#define OSSE_PLATFORM_RULES_H

#include <windows.h>

#include <string.h>

#include "osse/base.h"

namespace osse_platform {

struct VersionFlags {
    Uint8 win32On95, win98, winMe;
    Uint8 win32OnNT, win2k, winXP, win2k3, vista, longhorn;
};

// Flags for a version record; all clear when the version query failed.
inline VersionFlags versionFlags(bool queried, const OSVERSIONINFOEXA& v)
{
    VersionFlags f = {};
    if (!queried) return f;
    if (v.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        f.win32On95 = 1;
        if (v.dwMinorVersion == 10) f.win98 = 1;
        if (v.dwMinorVersion == 90) f.winMe = 1;
        return f;
    }
    f.win32OnNT = 1;
    if (v.dwMajorVersion == 5) {
        f.win2k = 1;
        if (v.dwMinorVersion >= 1) f.winXP = 1;
        if (v.dwMinorVersion >= 2) f.win2k3 = 1;
    } else if (v.dwMajorVersion >= 6) {
        f.win2k = f.winXP = f.win2k3 = f.vista = 1;
        if (!(v.wSuiteMask & 0x200)) f.longhorn = 1;
    }
    return f;
}

// Whether a registry multi-string (a sequence of NUL-terminated strings ended by an empty one,
// `bytes` long at most) holds `wanted`.
inline bool multiStringContains(const char* block, size_t bytes, const char* wanted)
{
    size_t i = 0;
    while (i < bytes && block[i]) {
        size_t len = strnlen(block + i, bytes - i);
        if (len == strlen(wanted) && memcmp(block + i, wanted, len) == 0) return true;
        i += len + 1;
    }
    return false;
}

// Both terminal-services flags follow from the two checks.
inline bool terminalServicesRunning(Uint32 checkA, Uint32 checkB)
{
    return checkA == 0 || checkB == 1;
}

const Uint32 kFailedGetModuleHandle = 0x08140109u;
const Uint32 kFailedGetProcAddress = 0x08140080u;

struct LookupNames {
    const char* ntdll;
    const char* conditionMaskFn;
    const char* kernel32;
    const char* verifyVersionFn;
};

inline const LookupNames& defaultLookupNames()
{
    static const LookupNames names = {"ntdll.dll", "VerSetConditionMask", "KERNEL32.DLL",
                                      "VerifyVersionInfoA"};
    return names;
}

typedef void (*LookupFailureFn)(Uint32 failedCall, Uint32 osError, Uint32 probe, const char* name);

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
