// Platform identification: the terminal-services checks with their lookup failures, and the
// flags this process got at load (the decisions on their inputs: platform_rules_test.cpp).
#include <windows.h>

#include "osse/osse.h"
#include "osse_test.h"

#include "../../src/diag/platform_checks.h"

using namespace osse_platform;

namespace {

OSVERSIONINFOEXA version(DWORD platform, DWORD major, DWORD minor, WORD suite = 0)
{
    OSVERSIONINFOEXA v = {};
    v.dwOSVersionInfoSize = sizeof v;
    v.dwPlatformId = platform;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.wSuiteMask = suite;
    return v;
}

std::string flagsText(const VersionFlags& f)
{
    std::string s;
    const Uint8 bits[] = {f.win32On95, f.win98, f.winMe, f.win32OnNT, f.win2k,
                          f.winXP, f.win2k3, f.vista, f.longhorn};
    for (Uint8 b : bits) s += b ? '1' : '0';
    return s;
}

struct Lookup {
    Uint32 failedCall, osError, probe;
    std::string name;
};
std::vector<Lookup> g_lookups;
void recordLookup(Uint32 failedCall, Uint32 osError, Uint32 probe, const char* name)
{
    g_lookups.push_back({failedCall, osError, probe, name});
}

}  // namespace

TEST(Platform, LoadTimeFlagsMatchThisSystem)
{
    OSVERSIONINFOEXA v = {};
    v.dwOSVersionInfoSize = sizeof v;
    const bool queried = GetVersionExA((OSVERSIONINFOA*)&v) != 0;
    const VersionFlags f = versionFlags(queried, v);
    const VersionFlags loaded = {g_bIsPlatformID_Win32On95, g_bIsPlatformID_Win98,
                                 g_bIsPlatformID_WinMe,     g_bIsPlatformID_Win32OnNT,
                                 g_bIsPlatformID_Win2k,     g_bIsPlatformID_WinXP,
                                 g_bIsPlatformID_Win2k3,    g_bIsPlatformID_Vista,
                                 g_bIsPlatformID_Longhorn};
    EXPECT_EQ(flagsText(loaded), flagsText(f));
    EXPECT_EQ(g_bIsPlatformID_Win32OnNT, 1) << "every supported system is NT";

    g_lookups.clear();
    const Uint32 a = terminalServicesCheck(v, 0x0100, 0, defaultLookupNames(), recordLookup);
    const Uint32 b = terminalServicesCheck(v, 0x0010, 1, defaultLookupNames(), recordLookup);
    EXPECT_TRUE(g_lookups.empty());
    EXPECT_EQ(g_bRunningTerminalService, terminalServicesRunning(a, b) ? 1 : 0);
    EXPECT_EQ(g_bRunningTerminalServiceRemoteAdminMode, g_bRunningTerminalService);
}

TEST(Platform, TerminalServicesCheckResults)
{
    OSVERSIONINFOEXA v = version(VER_PLATFORM_WIN32_NT, 6, 1);
    OSVERSIONINFOEXA suite = {};
    suite.dwOSVersionInfoSize = sizeof suite;
    for (WORD bit : {(WORD)0x0100, (WORD)0x0010}) {
        suite.wSuiteMask = bit;
        const bool has = VerifyVersionInfoA(&suite, VER_SUITENAME,
                                            VerSetConditionMask(0, VER_SUITENAME, VER_AND)) != 0;
        EXPECT_EQ(terminalServicesCheck(v, bit, 7, defaultLookupNames(), recordLookup), has ? 7u : 2u);
    }
    // A non-NT system before version 5 never has terminal services.
    EXPECT_EQ(terminalServicesCheck(version(VER_PLATFORM_WIN32_WINDOWS, 4, 10), 0x0100, 0,
                                    defaultLookupNames(), recordLookup),
              2u);
}

TEST(Platform, EachLookupFailureIsReportedWithItsProbeAndName)
{
    const OSVERSIONINFOEXA v = version(VER_PLATFORM_WIN32_NT, 6, 1);
    const LookupNames good = defaultLookupNames();
    struct Case {
        LookupNames names;
        Uint32 failedCall, probe;
        const char* name;
    } cases[] = {
        {{"nosuchmodule1.dll", good.conditionMaskFn, good.kernel32, good.verifyVersionFn},
         kFailedGetModuleHandle, 10, "nosuchmodule1.dll"},
        {{good.ntdll, "NoSuchConditionMask", good.kernel32, good.verifyVersionFn},
         kFailedGetProcAddress, 20, "NoSuchConditionMask"},
        {{good.ntdll, good.conditionMaskFn, "nosuchmodule2.dll", good.verifyVersionFn},
         kFailedGetModuleHandle, 30, "nosuchmodule2.dll"},
        {{good.ntdll, good.conditionMaskFn, good.kernel32, "NoSuchVerify"},
         kFailedGetProcAddress, 40, "NoSuchVerify"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_lookups.clear();
        EXPECT_EQ(terminalServicesCheck(v, 0x0100, 0, c.names, recordLookup), 2u);
        ASSERT_EQ(g_lookups.size(), 1u);
        EXPECT_EQ(g_lookups[0].failedCall, c.failedCall);
        EXPECT_EQ(g_lookups[0].probe, c.probe);
        EXPECT_EQ(g_lookups[0].name, c.name);
        EXPECT_EQ(g_lookups[0].osError, c.probe % 20 == 10 ? 126u : 127u)
            << "module not found / procedure not found";
    }
}
