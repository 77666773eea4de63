// The bounded formatter in the Windows runtime's dialect and the padded comparison's failed
// allocation (the rest of the string utilities: strtext_test.cpp).
#include <stdarg.h>
#include <string.h>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

TEST(StrSnprintf, RuntimeFormatsAndEmptyBuffers)
{
    char buf[64];
    EXPECT_EQ(ossSnprintf(buf, sizeof buf, "%I64u|%I64X|%+.3d|%-4s|", 18446744073709551615ull,
                          0xABCDEF0123ull, -5, "ab"),
              strlen("18446744073709551615|ABCDEF0123|-005|ab  |"));
    EXPECT_STREQ(buf, "18446744073709551615|ABCDEF0123|-005|ab  |");

    buf[0] = 'Q';
    EXPECT_EQ(ossSnprintf(buf, 0, "%s", "x"), 0u);
    EXPECT_EQ(buf[0], 'Q');
    EXPECT_EQ(ossSnprintf(nullptr, 10, "%s", "x"), 0u);
    const char* noFormat = nullptr;
    EXPECT_EQ(ossSnprintf(buf, sizeof buf, noFormat), 0u);
    EXPECT_STREQ(buf, "");
}

// A child process: every allocation fails through the user hooks, and the log callback keeps
// what the padded comparison reports. Exit 0 when the comparison gave -1 and the one record
// named ossStrCompWithPads, the allocator, its code, the probe of the padded string (10 for b,
// 20 for a) and the size asked for.
Uint32 g_failedSize = 0;
Uint32 failingAlloc(void** pp, Uint32, Uint32 size, Uint32)
{
    g_failedSize = size;
    *pp = nullptr;
    return ECF_NO_MEMORY;
}
Uint32 neverFree(void**)
{
    return 0;
}

struct SeenRecord {
    int count = 0;
    Uint32 functionId = 0, calledId = 0, code = 0, probe = 0, level = 0, sizeItem = 0;
} g_seen;

Uint32 keepRecord(OSSLogFacility*, Uint32 functionId, Uint32 calledId, Uint32 code, Uint32,
                  Uint32 probe, Uint32 level, Uint32, Sint32, va_list* items)
{
    ++g_seen.count;
    g_seen.functionId = functionId;
    g_seen.calledId = calledId;
    g_seen.code = code;
    g_seen.probe = probe;
    g_seen.level = level;
    va_list copy;
    va_copy(copy, *items);
    const Uint32* value = va_arg(copy, const Uint32*);
    g_seen.sizeItem = value ? *value : 0;
    va_end(copy);
    return 0;
}

}  // namespace

OSSE_CHILD_ROLE(strcomp_alloc_fails)
{
    (void)args;
    if (ossMemDefineUserAllocAndFreeFunctions(failingAlloc, neverFree) != 0) return 10;
    ossSetOSSeLogCallback(keepRecord);
    struct {
        const char *a, *b;
        Uint32 probe;
    } cases[] = {{"abcdef", "abc", 10}, {"abc", "abcdef", 20}};
    for (auto& c : cases) {
        g_seen = SeenRecord();
        g_failedSize = 0;
        if (ossStrCompWithPads(c.a, c.b, OSS_STRCOMP_EXACT) != -1) return 11;
        if (g_seen.count != 1) return 12;
        if (g_seen.functionId != 0x081A00BAu || g_seen.calledId != 0x081A0058u) return 13;
        if (g_seen.code != ECF_NO_MEMORY || g_seen.probe != c.probe || g_seen.level != 3) return 14;
        if (g_seen.sizeItem != g_failedSize || g_failedSize == 0) return 15;
    }
    return 0;
}

TEST(StrCompWithPads, FailedAllocationIsLoggedAndGivesMinusOne)
{
    EXPECT_EQ(ossetest::runChild("strcomp_alloc_fails"), 0);
}
