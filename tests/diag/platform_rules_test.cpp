// Platform identification on its inputs: the version flags for every version family, the
// terminal-services flags from the two checks, and the registry's product-suite list.
#include <string>

#include "osse/osse.h"
#include "osse_test.h"

#include "../../src/diag/platform_rules.h"

using namespace osse_platform;

namespace {

VersionFacts version(Uint32 platform, Uint32 major, Uint32 minor, Uint16 suite = 0)
{
    return VersionFacts{platform, major, minor, suite};
}

std::string flagsText(const VersionFlags& f)
{
    std::string s;
    const Uint8 bits[] = {f.win32On95, f.win98, f.winMe, f.win32OnNT, f.win2k,
                          f.winXP, f.win2k3, f.vista, f.longhorn};
    for (Uint8 b : bits) s += b ? '1' : '0';
    return s;
}

}  // namespace

TEST(Platform, VersionFlagsForEachFamily)
{
    const Uint32 W9X = 1, NT = 2;
    struct Case {
        const char* name;
        VersionFacts v;
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

TEST(Platform, TerminalServicesFlagsFollowEitherCheck)
{
    // Check A confirms with 0, check B with 1; either confirmation sets both flags.
    EXPECT_TRUE(terminalServicesRunning(0, 2));
    EXPECT_TRUE(terminalServicesRunning(2, 1));
    EXPECT_FALSE(terminalServicesRunning(2, 2));
    EXPECT_FALSE(terminalServicesRunning(2, 0));
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
