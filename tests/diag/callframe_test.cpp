// The call frame: parameter checks, the path to the system error handler, the frame's own
// records and the trace hooks at entry and exit.
#include "base/callframe.h"

#include "diag_test.h"

#include <memory>

#include "osse/trace.h"

using namespace diagtest;

namespace {

struct DemoParam {
    Uint32 version;
    Uint32 value;
};

constexpr Uint32 kOp = 0x081A0009;  // OSSHFile::lock

// An operation as the library writes them.
Uint32 demoOperation(const DemoParam* param, Uint32 osError)
{
    OSSCallFrame f(kOp);
    if (Uint32 rc = f.checkParam(param)) return rc;
    if (osError) {
        f.ctx.setTargetFileHandle(0x77);
        f.ctx.setIOSize(param->value);
        return f.systemError(0x08140087, osError, 160, ossItemHex(param->value),
                             ossItemString("lock"));
    }
    return f.ret(0);
}

struct Logged {
    Uint32 functionId, calledId, code, messageCode, probe, level, flags;
    Sint32 count;
    std::vector<OSSLogItem> items;
};
std::vector<Logged> g_logged;

Uint32 capture(OSSLogFacility*, Uint32 fn, Uint32 called, Uint32 code, Uint32 msg, Uint32 probe,
               Uint32 level, Uint32 flags, Sint32 count, va_list* items)
{
    Logged l{fn, called, code, msg, probe, level, flags, count, {}};
    for (Sint32 i = 0; i < count; ++i) l.items.push_back(va_arg(*items, OSSLogItem));
    g_logged.push_back(l);
    return 0;
}

struct Capture {
    Capture()
    {
        g_logged.clear();
        ossSetOSSeLogCallback(capture);
    }
    ~Capture() { ossSetOSSeLogCallback(nullptr); }
};

}  // namespace

TEST(CallFrame, ParameterObjectChecks)
{
    Capture c;
    EXPECT_EQ(demoOperation(nullptr, 0), 0x9000000Cu);
    const DemoParam old = {OSS_MIN_VERSION - 1, 0};
    EXPECT_EQ(demoOperation(&old, 0), 0x90000004u);
    const DemoParam ok = {OSS_MIN_VERSION, 0};
    EXPECT_EQ(demoOperation(&ok, 0), 0u);

    ASSERT_EQ(g_logged.size(), 2u);
    EXPECT_EQ(g_logged[0].functionId, kOp);
    EXPECT_EQ(g_logged[0].messageCode, 0x9000000Cu);
    EXPECT_EQ(g_logged[0].probe, 1111u);
    EXPECT_EQ(g_logged[0].level, 3u);
    EXPECT_EQ(g_logged[0].count, 0);
    EXPECT_EQ(g_logged[0].flags, OSS_LOG_FLAG_LOG);

    EXPECT_EQ(g_logged[1].messageCode, 0x90000004u);
    EXPECT_EQ(g_logged[1].probe, 1112u);
    EXPECT_EQ(g_logged[1].level, 3u);
    ASSERT_EQ(g_logged[1].count, 2);
    // The items are read during the call; their values were the version found and the minimum.
    EXPECT_EQ(g_logged[1].items[0].type, OSS_ITEM_HEX);
    EXPECT_EQ(g_logged[1].items[0].size, 4);
    EXPECT_EQ(g_logged[1].items[1].type, OSS_ITEM_HEX);
}

TEST(CallFrame, VersionRecordText)
{
    FileLog log(5, /*useDefault=*/true);
    const DemoParam old = {0x09040000, 0};
    EXPECT_EQ(demoOperation(&old, 0), 0x90000004u);
    EXPECT_EQ(log.only(), header("Error", kOp, 1112) + "MESSAGE : ECF=0x90000004 Invalid version\r\n" +
                              "DATA #1 : Hex, 4 bytes\r\n0x9040000\r\n"
                              "DATA #2 : Hex, 4 bytes\r\n0x9050000\r\n");
}

TEST(CallFrame, SystemErrorGoesThroughTheHandler)
{
    Capture c;
    const DemoParam p = {OSS_CURRENT_VERSION, 512};
    EXPECT_EQ(demoOperation(&p, 33), 0x90000014u);  // ERROR_LOCK_VIOLATION -> ECF_FILE_LOCK
    ASSERT_EQ(g_logged.size(), 1u);
    const Logged& l = g_logged[0];
    EXPECT_EQ(l.functionId, kOp);
    EXPECT_EQ(l.calledId, 0x08140087u);
    EXPECT_EQ(l.code, 33u);
    EXPECT_EQ(l.messageCode, 0x90000014u);
    EXPECT_EQ(l.probe, 160u);
    EXPECT_EQ(l.level, 5u);
    ASSERT_EQ(l.count, 2);  // the operation's items as a nested list, then the analysis hint
    EXPECT_EQ(l.items[0].type, OSS_ITEM_NESTED);
    EXPECT_EQ(l.items[0].size, 2);
    EXPECT_EQ(l.items[1].type, OSS_ITEM_STRING);
}

TEST(CallFrame, TraceRecordsAtEntryFailureAndExit)
{
    // A trace in this process's memory, bound and enabled.
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    o->bufferSize = 0x80000;
    o->mode = GTRACE_MODE_LINEAR;
    Uint8* block = static_cast<Uint8*>(VirtualAlloc(nullptr, gtraceGetAllocSize(o->bufferSize),
                                                    MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(gtraceInitialize(block, o.get()), 0u);
    ASSERT_EQ(gtraceAttach(reinterpret_cast<GTCB*>(block), 1, nullptr, nullptr, nullptr), 0u);
    ASSERT_EQ(gtraceEnable(), 0u);
    Capture c;
    const DemoParam p = {OSS_CURRENT_VERSION, 1};
    demoOperation(&p, 0);        // entry, exit 0
    demoOperation(nullptr, 0);   // entry, error 0x9000000C at probe 1111, exit
    demoOperation(&p, 33);       // entry, the mapping's data, error at probe 160, exit
    gtraceDisable();
    demoOperation(&p, 0);        // nothing while disabled
    gtraceDetach();
    demoOperation(&p, 0);        // nor once detached

    // Records in order: type, probe, result word.
    const Uint8* ring = block + GTCB_SIZE;
    Uint32 next, dataOffset;
    memcpy(&next, ring, 4);
    memcpy(&dataOffset, ring + 0x8C, 4);
    std::vector<std::string> seen;
    for (Uint32 i = 0; i < next;) {
        const Uint8* slot = ring + dataOffset + 64 * i;
        Uint16 slots, type, probe;
        Uint32 id, result;
        memcpy(&slots, slot + 6, 2);
        memcpy(&id, slot + 8 + 0x14, 4);
        memcpy(&type, slot + 8 + 0x20, 2);
        memcpy(&probe, slot + 8 + 0x24, 2);
        memcpy(&result, slot + 8 + 0x30, 4);
        EXPECT_EQ(id, kOp);
        seen.push_back(std::to_string(type) + " " + std::to_string(probe) +
                       (type == 2 ? " " + std::to_string(result) : ""));
        i += slots ? slots : 1;
    }
    const std::vector<std::string> expected = {
        "1 0", "2 0 0",
        "1 0", "4 1111", "2 0 " + std::to_string(0x9000000Cu),
        "1 0", "3 160", "4 160", "2 0 " + std::to_string(0x90000014u)};
    EXPECT_EQ(seen, expected);
    VirtualFree(block, 0, MEM_RELEASE);
}
