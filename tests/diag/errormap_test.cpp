// The system error handler's levels, flags, items and hint (the mapping of the error numbers
// themselves: oserrors_test.cpp).
#include "diag_test.h"

using namespace diagtest;

namespace {

constexpr Uint32 kCloseHandle = 0x08140069;

}  // namespace

namespace {

// What the log callback saw of the handler's record.
struct Seen {
    int calls = 0;
    Uint32 functionId, calledId, code, messageCode, probe, level, flags;
    Sint32 count;
    std::vector<OSSLogItem> items;   // the request's own items
    std::vector<OSSLogItem> nested;  // the items of its first (nested) item
};
Seen g_seen;

Uint32 captureCallback(OSSLogFacility*, Uint32 functionId, Uint32 calledId, Uint32 code,
                       Uint32 messageCode, Uint32 probe, Uint32 level, Uint32 flags, Sint32 count,
                       va_list* items)
{
    Seen& s = g_seen;
    ++s.calls;
    s.functionId = functionId;
    s.calledId = calledId;
    s.code = code;
    s.messageCode = messageCode;
    s.probe = probe;
    s.level = level;
    s.flags = flags;
    s.count = count;
    s.items.clear();
    s.nested.clear();
    for (Sint32 i = 0; i < count; ++i) s.items.push_back(va_arg(*items, OSSLogItem));
    if (!s.items.empty() && s.items[0].type == OSS_ITEM_NESTED) {
        va_list* inner = (va_list*)s.items[0].p;
        for (Sint32 i = 0; i < s.items[0].size; ++i) s.nested.push_back(va_arg(*inner, OSSLogItem));
    }
    return 0x12345678;  // the handler ignores what the log returns
}

struct CallbackScope {
    CallbackScope()
    {
        g_seen = Seen();
        ossSetOSSeLogCallback(captureCallback);
    }
    ~CallbackScope() { ossSetOSSeLogCallback(nullptr); }
};

}  // namespace

TEST(ErrorHandler, SeverityCeiling)
{
    CallbackScope scope;
    struct Case {
        Uint32 error, ceiling, level;
    } cases[] = {
        {32, 5, 3}, {32, 1, 1}, {32, 6, 6}, {32, 3, 3}, {6, 5, 5}, {6, 4, 4}, {6, 6, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "error " << c.error << " ceiling " << c.ceiling);
        ossSystemErrorHandler(0x081A0003, kCloseHandle, c.error, 10, c.ceiling, 0, nullptr, 0);
        EXPECT_EQ(g_seen.level, c.level);
    }
}

TEST(ErrorHandler, RequestCarriesCodeErrorAndItems)
{
    CallbackScope scope;
    OSSErrorContext ctx;
    ctx.init();
    ctx.setTargetFileHandle(0x44);
    const Uint32 handle = 0x44, probe = 10;
    const struct {
        Uint32 flags;
        OSSErrorContext* ctx;
        bool hint;
    } cases[] = {{0, &ctx, true}, {0, nullptr, false}, {OSS_SEH_NO_ANALYSIS, &ctx, false}};
    for (const auto& c : cases) {
        g_seen = Seen();
        EXPECT_EQ(ossSystemErrorHandler(0x081A0003, kCloseHandle, 6, probe, 5, c.flags, c.ctx, 2,
                                        item(&handle, 4, -1), item("name", 4, -5)),
                  0x9000000Cu);
        ASSERT_EQ(g_seen.calls, 1);
        EXPECT_EQ(g_seen.functionId, 0x081A0003u);
        EXPECT_EQ(g_seen.calledId, kCloseHandle);
        EXPECT_EQ(g_seen.code, 6u);
        EXPECT_EQ(g_seen.messageCode, 0x9000000Cu);
        EXPECT_EQ(g_seen.probe, probe);
        EXPECT_EQ(g_seen.level, 5u);
        EXPECT_EQ(g_seen.flags, OSS_LOG_FLAG_OSERR);
        ASSERT_EQ(g_seen.count, c.hint ? 2 : 1);
        EXPECT_EQ(g_seen.items[0].type, OSS_ITEM_NESTED);
        ASSERT_EQ(g_seen.nested.size(), 2u);
        EXPECT_EQ(g_seen.nested[0].p, &handle);
        EXPECT_EQ(g_seen.nested[1].type, OSS_ITEM_STRING);
        if (c.hint) {
            EXPECT_EQ(g_seen.items[1].type, OSS_ITEM_STRING);
            EXPECT_STREQ((const char*)g_seen.items[1].p,
                         "Search for ossError*Analysis probe point after this log entry for "
                         "further\nself-diagnosis of this problem.");
            EXPECT_EQ(g_seen.items[1].size, (Sint32)strlen((const char*)g_seen.items[1].p));
        }
    }

    // No items: no items in the record either (an empty argument mask).
    g_seen = Seen();
    ossSystemErrorHandler(0x081A0003, kCloseHandle, 6, probe, 5, 0, &ctx, 0);
    EXPECT_EQ(g_seen.count, 0);
    EXPECT_EQ(g_seen.flags, OSS_LOG_FLAG_OSERR | OSS_LOG_FLAG_MASK);

    // Mapping only: nothing is logged.
    g_seen = Seen();
    EXPECT_EQ(ossSystemErrorHandler(0x081A0003, kCloseHandle, 183, probe, 5, OSS_SEH_MAP_ONLY,
                                    &ctx, 1, item(&handle, 4, -1)),
              0x9000001Bu);
    EXPECT_EQ(g_seen.calls, 0);
}

TEST(ErrorHandler, RecordText)
{
    // The whole record of a failed CloseHandle, as the default facility writes it.
    FileLog log(5, /*useDefault=*/true);
    OSSErrorContext ctx;
    ctx.init();
    ctx.setTargetFileHandle(0x1F4);
    const Uint32 handle = 0x1F4;
    const DWORD before = 1234;
    SetLastError(before);
    EXPECT_EQ(ossSystemErrorHandler(0x081A0003, kCloseHandle, 6, 10, 5, 0, &ctx, 1,
                                    item(&handle, 4, -1)),
              0x9000000Cu);
    EXPECT_EQ(GetLastError(), before);
    const std::string called = "CALLED  : " + osCallNames(kCloseHandle);
    EXPECT_EQ(log.only(), header("Info", 0x081A0003, 10, true) + "MESSAGE : ECF=0x9000000C Invalid parameter\r\n" +
                              called + std::string(50 - called.size(), ' ') +
                              "OSERR: ERROR_INVALID_FLAGS (6)\r\n"
                              "DATA #1 : Hex, 4 bytes\r\n0x1F4\r\n"
                              "DATA #2 : String, 105 bytes\r\n"
                              "Search for ossError*Analysis probe point after this log entry for "
                              "further\nself-diagnosis of this problem.\r\n");
}
