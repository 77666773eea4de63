// Platform identification at load: version flags, terminal services, 32-on-64.
#include <windows.h>

#include <string.h>

#include "diag/platform_internal.h"
#include "diag/platform_checks.h"
#include "osse/osse.h"

OSSE_API Uint8 g_bIsPlatformID_Win32On95 = 0;
OSSE_API Uint8 g_bIsPlatformID_Win32OnNT = 0;
OSSE_API Uint8 g_bIsPlatformID_Win98 = 0;
OSSE_API Uint8 g_bIsPlatformID_WinMe = 0;
OSSE_API Uint8 g_bIsPlatformID_Win2k = 0;
OSSE_API Uint8 g_bIsPlatformID_WinXP = 0;
OSSE_API Uint8 g_bIsPlatformID_Win2k3 = 0;
OSSE_API Uint8 g_bIsPlatformID_Vista = 0;
OSSE_API Uint8 g_bIsPlatformID_Longhorn = 0;
OSSE_API Uint8 g_bRunningTerminalService = 0;
OSSE_API Uint8 g_bRunningTerminalServiceRemoteAdminMode = 0;

namespace osse_platform {

Uint8 g_bIsWow64Process = 0;

namespace {

// A failed module or function lookup of the terminal-services checks: maps the error and writes
// one ossLogSysRC record with the name as argument 1.
void logLookupFailure(Uint32 failedCall, Uint32 osError, Uint32 probe, const char* name)
{
    const Uint32 kFnCheckTerminalServices = 0x081A00A7u;
    Uint32 level = OSS_LEVEL_INFO;
    const Uint32 code =
        ossErrorMapSystem(kFnCheckTerminalServices, probe, failedCall, osError, &level);
    ossLogSysRC(nullptr, kFnCheckTerminalServices, failedCall, osError, code, probe, level,
                (Sint32)0x80000001u, OSSLogItem{name, (Sint32)strlen(name), OSS_ITEM_STRING});
}

}  // namespace

void identifyPlatform()
{
    OSVERSIONINFOEXA v = {};
    v.dwOSVersionInfoSize = sizeof v;
    const bool queried = GetVersionExA((OSVERSIONINFOA*)&v) != 0;
    const VersionFlags f = versionFlags(queried, v);
    g_bIsPlatformID_Win32On95 = f.win32On95;
    g_bIsPlatformID_Win98 = f.win98;
    g_bIsPlatformID_WinMe = f.winMe;
    g_bIsPlatformID_Win32OnNT = f.win32OnNT;
    g_bIsPlatformID_Win2k = f.win2k;
    g_bIsPlatformID_WinXP = f.winXP;
    g_bIsPlatformID_Win2k3 = f.win2k3;
    g_bIsPlatformID_Vista = f.vista;
    g_bIsPlatformID_Longhorn = f.longhorn;

    const LookupNames& names = defaultLookupNames();
    const Uint32 checkA = terminalServicesCheck(v, 0x0100, 0, names, logLookupFailure);
    const Uint32 checkB =
        checkA == 0 ? 0 : terminalServicesCheck(v, 0x0010, 1, names, logLookupFailure);
    if (terminalServicesRunning(checkA, checkB)) {
        g_bRunningTerminalService = 1;
        g_bRunningTerminalServiceRemoteAdminMode = 1;
    }

    typedef BOOL(WINAPI * IsWow64Fn)(HANDLE, PBOOL);
    if (HMODULE kernel = GetModuleHandleA("KERNEL32.DLL")) {
        IsWow64Fn isWow64 = (IsWow64Fn)(void*)GetProcAddress(kernel, "IsWow64Process");
        BOOL wow64 = FALSE;
        if (isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64) g_bIsWow64Process = 1;
    }
}

}  // namespace osse_platform
