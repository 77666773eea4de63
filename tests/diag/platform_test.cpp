// Platform identification: the version flags for every version family, the terminal-services
// checks with their lookup failures, and the flags this process got at load.
#include <windows.h>

#include "osse/osse.h"
#include "osse_test.h"

#include "../../src/diag/platform_rules.h"

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

TEST(Platform, VersionFlagsForEachFamily)
{
    const DWORD W9X = VER_PLATFORM_WIN32_WINDOWS, NT = VER_PLATFORM_WIN32_NT;
    struct Case {
        const char* name;
        OSVERSIONINFOEXA v;
        bool queried;
        const char* flags;  // 95 98 Me NT 2k XP 2k3 Vista Longhorn
    } cases[] = {
        {"95", version(W9X, 4, 0), true, "100000000"},
        {"98", version(W9X, 4, 10), true, "110000000"},
        {"Me", version(W9X, 4, 90), true, "101000000"},
        {"NT 4", version(NT, 4, 0), true, "000100000"},
        {"2000", version(NT, 5, 0), true, "000110000"},
        {"XP", version(NT, 5, 1), true, "000111000"},
        {"2003", version(NT, 5, 2), true, "000111100"},
        {"Vista", version(NT, 6, 0), true, "000111111"},
        {"Vista personal", version(NT, 6, 0, 0x200), true, "000111110"},
        {"10", version(NT, 10, 0, 0x100), true, "000111111"},
        {"query failed", version(NT, 6, 1), false, "000000000"},
    };
    for (const Case& c : cases) EXPECT_EQ(flagsText(versionFlags(c.queried, c.v)), c.flags) << c.name;
}

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
    // Check A confirms with 0, check B with 1; either confirmation sets both flags.
    EXPECT_TRUE(terminalServicesRunning(0, 2));
    EXPECT_TRUE(terminalServicesRunning(2, 1));
    EXPECT_FALSE(terminalServicesRunning(2, 2));
    EXPECT_FALSE(terminalServicesRunning(2, 0));

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

TEST(Platform, ProductSuiteMultiString)
{
    const char suite[] = "Small Business\0Terminal Server\0\0";
    EXPECT_TRUE(multiStringContains(suite, sizeof suite, "Terminal Server"));
    EXPECT_TRUE(multiStringContains(suite, sizeof suite, "Small Business"));
    EXPECT_FALSE(multiStringContains(suite, sizeof suite, "Terminal"));
    EXPECT_FALSE(multiStringContains(suite, sizeof suite, "Server"));
    EXPECT_FALSE(multiStringContains("\0\0", 2, "Terminal Server"));
    // Not terminated within its size: nothing is read past the end.
    const char cut[] = {'T', 'e', 'r', 'm'};
    EXPECT_TRUE(multiStringContains(cut, sizeof cut, "Term"));
}
