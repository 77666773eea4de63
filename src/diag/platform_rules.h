// The decisions of the platform identification, apart from where their inputs come from: the
// version flags from the fields of a version record, the product-suite list of the registry,
// and the terminal-services flags from the two checks (the checks themselves, with their module
// and function names and failure reporting supplied by the caller: platform_checks.h).
#ifndef OSSE_PLATFORM_RULES_H
#define OSSE_PLATFORM_RULES_H

#include <string.h>

#include "osse/base.h"

namespace osse_platform {

struct VersionFlags {
    Uint8 win32On95, win98, winMe;
    Uint8 win32OnNT, win2k, winXP, win2k3, vista, longhorn;
};

// The fields of a version record that the flags follow.
struct VersionFacts {
    Uint32 platformId;  // 1 for the 9x family, 2 for NT
    Uint32 major, minor;
    Uint16 suiteMask;
};

constexpr Uint32 kPlatformNT = 2;
constexpr Uint16 kSuitePersonal = 0x200;

// Flags for a version record; all clear when the version query failed.
inline VersionFlags versionFlags(bool queried, const VersionFacts& v)
{
    VersionFlags f = {};
    if (!queried) return f;
    if (v.platformId != kPlatformNT) {
        f.win32On95 = 1;
        if (v.minor == 10) f.win98 = 1;
        if (v.minor == 90) f.winMe = 1;
        return f;
    }
    f.win32OnNT = 1;
    if (v.major == 5) {
        f.win2k = 1;
        if (v.minor >= 1) f.winXP = 1;
        if (v.minor >= 2) f.win2k3 = 1;
    } else if (v.major >= 6) {
        f.win2k = f.winXP = f.win2k3 = f.vista = 1;
        if (!(v.suiteMask & kSuitePersonal)) f.longhorn = 1;
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

}  // namespace osse_platform

#endif
