// Mapping of OS and C-runtime error numbers to ECF codes, suggested levels and names; the
// system error handler's levels, flags, items and hint.
#include "diag_test.h"

using namespace diagtest;

namespace {

constexpr Uint32 kAccess = 0x08140001, kStat = 0x0814009D, kTlsGetValue = 0x081400A0,
                 kCreateFileMapping = 0x0814006E, kCreateSemaphore = 0x08140070,
                 kCloseHandle = 0x08140069, kReadFile = 0x08140092;

}  // namespace

TEST(ErrorMap, CodesLevelsAndNames)
{
    struct Case {
        Uint32 call, error, code, level;
        const char* name;
    } cases[] = {
        // access and _stat report errno values and never reach the general rows.
        {kAccess, 13, 0x90000001, 5, "EACCES"},
        {kAccess, 22, 0x9000000C, 5, "EINVAL"},
        {kAccess, 3, 0x9000001A, 5, nullptr},
        {kAccess, 2, 0x90000007, 3, nullptr},
        {kAccess, 5, 0x90000007, 3, nullptr},
        {kAccess, 0, 0x90000007, 3, nullptr},
        {kStat, 2, 0x9000001A, 5, "ENOENT"},
        {kStat, 22, 0x9000001A, 5, nullptr},
        {kStat, 5, 0x90000007, 3, nullptr},
        {kStat, 32, 0x90000007, 3, nullptr},
        {kTlsGetValue, 0, 0x90000003, 5, "NO_ERROR"},
        {kCloseHandle, 0, 0x90000007, 3, nullptr},
        {kReadFile, 5, 0x90000001, 5, "ERROR_ACCESS_DENIED"},
        {kCreateFileMapping, 183, 0x9000004A, 5, "ERROR_ALREADY_EXISTS"},
        {kCreateSemaphore, 183, 0x90000052, 5, "ERROR_ALREADY_EXISTS"},
        {kCloseHandle, 183, 0x9000001B, 5, "ERROR_ALREADY_EXISTS"},
        {kCloseHandle, 145, 0x90000039, 5, "ERROR_DIR_NOT_EMPTY"},
        {kCloseHandle, 267, 0x90000019, 5, "ERROR_DIRECTORY"},
        {kCloseHandle, 112, 0x90000028, 5, "ERROR_DISK_FULL"},
        {kCloseHandle, 80, 0x9000001B, 5, "ERROR_FILE_EXISTS"},
        {kCloseHandle, 2, 0x9000001A, 5, "ERROR_FILE_NOT_FOUND"},
        {kCloseHandle, 206, 0x9000001F, 5, "ERROR_FILENAME_EXCED_RANGE"},
        {kCloseHandle, 38, 0x90000021, 5, "ERROR_HANDLE_EOF"},
        {kCloseHandle, 122, 0x90000008, 5, "ERROR_INSUFFICIENT_BUFFER"},
        {kCloseHandle, 487, 0x9000000A, 5, "ERROR_INVALID_ADDRESS"},
        {kCloseHandle, 1132, 0x9000000A, 5, nullptr},
        {kCloseHandle, 123, 0x9000001E, 5, "ERROR_INVALID_NAME"},
        {kCloseHandle, 6, 0x9000000C, 5, "ERROR_INVALID_FLAGS"},
        {kCloseHandle, 87, 0x9000000C, 5, "ERROR_INVALID_FLAGS"},
        {kCloseHandle, 1004, 0x9000000C, 5, "ERROR_INVALID_FLAGS"},
        {kCloseHandle, 86, 0x90000315, 5, nullptr},
        {kCloseHandle, 33, 0x90000014, 5, "ERROR_LOCK_VIOLATION"},
        {kCloseHandle, 126, 0x9000001A, 5, "ERROR_MOD_NOT_FOUND"},
        {kCloseHandle, 234, 0x90000008, 5, "ERROR_MORE_DATA"},
        {kCloseHandle, 18, 0x9000002D, 3, "ERROR_NO_MORE_FILES"},
        {kCloseHandle, 1113, 0x90000010, 5, "ERROR_NO_UNICODE_TRANSLATION"},
        {kCloseHandle, 8, 0x9000000D, 3, "ERROR_OUTOFMEMORY"},
        {kCloseHandle, 14, 0x9000000D, 3, "ERROR_OUTOFMEMORY"},
        {kCloseHandle, 1455, 0x9000000D, 3, nullptr},
        {kCloseHandle, 21, 0x9000002F, 3, "ERROR_NOT_READY"},
        {kCloseHandle, 3, 0x90000037, 5, "ERROR_PATH_NOT_FOUND"},
        {kCloseHandle, 1005, 0x90000037, 5, "ERROR_UNRECOGNIZED_VOLUME"},
        {kCloseHandle, 127, 0x90000078, 5, "ERROR_PROC_NOT_FOUND"},
        {kCloseHandle, 32, 0x9000003F, 3, "ERROR_SHARING_VIOLATION"},
        {kCloseHandle, 240, 0x900003FE, 5, "ERROR_VC_DISCONNECTED"},
        {kCloseHandle, 13, 0x90000007, 3, nullptr},
        {kCloseHandle, 99999, 0x90000007, 3, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "call 0x" << c.call << std::dec
                                        << " error " << c.error);
        Uint32 level = 99;
        EXPECT_EQ(ossErrorMapSystem(0x081A0003, 10, c.call, c.error, &level), c.code);
        EXPECT_EQ(level, c.level);
        EXPECT_EQ(ossErrorMapSystem(0x081A0003, 10, c.call, c.error, nullptr), c.code);
        const char* name = ossErrorNameMapSystem(c.call, c.error);
        if (c.name)
            EXPECT_STREQ(name, c.name);
        else
            EXPECT_EQ(name, nullptr);
    }
}

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
