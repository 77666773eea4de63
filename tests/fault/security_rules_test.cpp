// The filtered-token decision on every combination of its inputs.
#include "osse/osse.h"
#include "osse_test.h"
#include "../../src/diag/security_rules.h"

TEST(Security, FilteredTokenDecisionOnEveryInput)
{
    struct Case {
        bool vista, admin;
        Uint32 level;
        bool expected;
        int queries;  // how many of the two queries run
    } cases[] = {
        {false, true, 0x2000, false, 0}, {true, false, 0x2000, false, 1},
        {true, true, 0x2000, true, 2},   {true, true, 0x3000, false, 2},
        {true, true, 0x1000, true, 2},   {true, true, 0x4000, false, 2},
    };
    for (const Case& c : cases) {
        int queries = 0;
        bool result = !c.expected;
        const Uint32 rc = osse_security::decideFilteredToken(
            c.vista,
            [&](bool* a) {
                ++queries;
                *a = c.admin;
                return 0u;
            },
            [&](Uint32* l) {
                ++queries;
                *l = c.level;
                return 0u;
            },
            &result);
        EXPECT_EQ(0u, rc);
        EXPECT_EQ(c.expected, result) << c.vista << c.admin << std::hex << c.level;
        EXPECT_EQ(c.queries, queries);
    }
    // A query's error is returned.
    bool result = true;
    EXPECT_EQ(0x90000001u, osse_security::decideFilteredToken(
                               true, [](bool*) { return 0x90000001u; },
                               [](Uint32*) { return 0u; }, &result));
    EXPECT_FALSE(result);
}
