// Trace records: what each writer puts into the ring buffer, byte by byte, and the pipeline
// around it (filters, errors-only, callbacks, stop condition).
#include "trace_fixture.h"

#include "../../src/trace/gtrace_frame.h"

#include <string>

using namespace tracetest;

namespace {

const Uint32 kId = 0x081A0003;  // OSSHFile::close

struct Call {
    Uint32 type, id, probe;
    void* pointer;
    Uint32 n;
    Uint32 firstTriple[3];
};
std::vector<Call> g_calls;
Uint32 g_suppressProbe = 0xFFFFFFFF;
int g_disables = 0;

void recordApp(Uint32 type, Uint32 id, Uint32 probe, void* pointer, Uint32 n, void* cursor) {
    Call c{type, id, probe, pointer, n, {0, 0, 0}};
    if (cursor) {
        // The first item through the cursor, as the writers take it: two words and a
        // pointer-wide third argument whose low half is a value item's word.
        va_list items;
        va_copy(items, *static_cast<va_list*>(cursor));
        c.firstTriple[0] = va_arg(items, Uint32);
        c.firstTriple[1] = va_arg(items, Uint32);
        c.firstTriple[2] = static_cast<Uint32>(va_arg(items, uintptr_t));
        va_end(items);
    }
    g_calls.push_back(c);
}
Uint64 recordPre(Uint32 type, Uint32 id, Uint32 probe) {
    g_calls.push_back(Call{type, id, probe, nullptr, 0, {0, 0, 0}});
    return probe == g_suppressProbe ? 1 : 0;
}
void countDisable() { ++g_disables; }

class GTraceRecords : public TraceFixture {
protected:
    void SetUp() override {
        g_calls.clear();
        g_suppressProbe = 0xFFFFFFFF;
        g_disables = 0;
    }
    // The single record written so far.
    Slotted only() {
        std::vector<Slotted> r = records();
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? Slotted{} : r[0];
    }
};

}  // namespace

TEST_F(GTraceRecords, EntryWithoutFlagsFillsOneSlot) {
    start();
    gtraceSetFixedData1(0xF1);
    gtraceSetFixedData2(0xF2);
    _gtraceEntry(0x1234, 0x5678, kId, 0, 1000000);
    ASSERT_EQ(nextSequence(mem_), 1u);
    const Uint8* s = dataArea(mem_);
    EXPECT_EQ(readAt<Uint32>(s, 0), 0u);              // sequence
    EXPECT_EQ(readAt<Uint16>(s, 4), 0xCAFEu);
    EXPECT_EQ(readAt<Uint16>(s, 6), 1u);
    EXPECT_EQ(readAt<Uint32>(s, 60), ~0u);            // trailer
    const Uint8* r = s + 8;
    EXPECT_EQ(readAt<Uint64>(r, 0x00), 0u);           // no timestamp without the flag
    EXPECT_EQ(readAt<Uint64>(r, 0x08), 0x0000567800001234ull);
    EXPECT_EQ(readAt<Uint32>(r, 0x10), 77u);
    EXPECT_EQ(readAt<Uint32>(r, 0x14), kId);
    EXPECT_EQ(readAt<Uint32>(r, 0x18), 0xF1u);
    EXPECT_EQ(readAt<Uint32>(r, 0x1C), 0xF2u);
    EXPECT_EQ(readAt<Uint16>(r, 0x20), 1u);
    EXPECT_EQ(readAt<Uint16>(r, 0x22), 0u);
    EXPECT_EQ(readAt<Uint16>(r, 0x24), 0u);
    EXPECT_EQ(readAt<Uint16>(r, 0x26), 0u);
    EXPECT_EQ(readAt<Uint32>(r, 0x28), 0u);
    EXPECT_EQ(readAt<Uint32>(r, 0x2C), 1000000u);
    EXPECT_EQ(readAt<Uint32>(r, 0x30), 0u);
}

TEST_F(GTraceRecords, FixedWritersTypesSlotsAndFields) {
    start();
    const Uint32 rc = 0x9000000C;
    _gtraceExit(1, 0, kId, &rc, 3, 4);
    _gtraceMarker(1, 0, kId, 40, 0x00010007);
    _gtraceMarker(1, 0, kId, 41, 0x00000008);
    _gtraceError(1, 0, kId, 50, 5, 6, 7);
    _gtraceErrorRc(1, 0, kId, 60, 11, 8, 9, 0x90000001, 0xE1, 0xE2);
    _gtraceErrorTrans(1, 0, kId, 70, 10, 11, 0xE3, 0xE4);
    const struct { Uint16 slots, type, flags, probe; Uint32 d1, d2, result, extraLow, extraHigh; } want[] = {
        {1, 2, 0, 0, 3, 4, 0x9000000C, 0, 0},
        {1, 7, 2, 40, 0, 0, 0, 0, 0},
        {1, 8, 0, 41, 0, 0, 0, 0, 0},
        {1, 5, 0, 50, 6, 7, 0, 0, 0},
        {2, 11, 0, 60, 8, 9, 0x90000001, 0xE1, 0xE2},
        {2, 13, 0, 70, 10, 11, 0, 0xE3, 0xE4},
    };
    const std::vector<Slotted> r = records();
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(nextSequence(mem_), 8u);
    for (size_t i = 0; i < r.size(); ++i) {
        const Uint8* p = r[i].payload;
        EXPECT_EQ(r[i].slots, want[i].slots) << i;
        EXPECT_EQ(readAt<Uint16>(p, 0x20), want[i].type) << i;
        EXPECT_EQ(readAt<Uint16>(p, 0x22), want[i].flags) << i;
        EXPECT_EQ(readAt<Uint16>(p, 0x24), want[i].probe) << i;
        EXPECT_EQ(readAt<Uint32>(p, 0x28), want[i].d1) << i;
        EXPECT_EQ(readAt<Uint32>(p, 0x2C), want[i].d2) << i;
        EXPECT_EQ(readAt<Uint32>(p, 0x30), want[i].result) << i;
        if (want[i].slots == 2) {
            EXPECT_EQ(readAt<Uint16>(p, 0x26), 0u) << i;
            EXPECT_EQ(readAt<Uint32>(p, 0x34), 0u) << i;
            EXPECT_EQ(readAt<Uint32>(p, 0x38), want[i].extraLow) << i;
            EXPECT_EQ(readAt<Uint32>(p, 0x3C), want[i].extraHigh) << i;
        }
    }
}

TEST_F(GTraceRecords, ItemsAreHeadersThenBytesBackToBack) {
    start();
    const char text[] = "hello";
    const Uint32 rc = 0x90000001;
    _gtraceEntryVar(1, 0, kId, 5, 6, 4, GTRACE_ITEM_VALUE1, 2u, 0xAABBCCDDu, GTRACE_ITEM_BYTES, 5u,
                    text, GTRACE_ITEM_VALUE2, 9u, 0x11223344u,  // at most 4
                    GTRACE_ITEM_BYTES, 5u, nullptr);                                // null pointer
    _gtraceErrorRcVar(1, 0, kId, 8, 4, 0, 0, rc, 0xE1, 0xE2, 1, GTRACE_ITEM_BYTES, 4u,
                      &rc);
    const std::vector<Slotted> r = records();
    ASSERT_EQ(r.size(), 2u);

    const Uint8* p = r[0].payload;
    const Uint32 area = 4 * 8 + 2 + 5 + 4 + 5;
    EXPECT_EQ(readAt<Uint16>(p, 0x20), 1u);
    EXPECT_EQ(readAt<Uint16>(p, 0x26), area);
    EXPECT_EQ(readAt<Uint32>(p, 0x34), 4u);
    EXPECT_EQ(r[0].slots, (0x38 + area + 12 + 63) / 64);
    const Uint32 headers[8] = {1, 2, 0, 5, 2, 4, 0, 0xFFFFFFFF};
    EXPECT_EQ(memcmp(p + 0x38, headers, sizeof headers), 0);
    const Uint8 bytes[] = {0xDD, 0xCC, 'h', 'e', 'l', 'l', 'o', 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(memcmp(p + 0x38 + 32, bytes, sizeof bytes), 0);

    // The 8 extra bytes come first and count in the item area length.
    p = r[1].payload;
    EXPECT_EQ(readAt<Uint16>(p, 0x26), 8u + 8u + 4u);
    EXPECT_EQ(readAt<Uint32>(p, 0x30), rc);
    EXPECT_EQ(readAt<Uint32>(p, 0x34), 1u);
    EXPECT_EQ(readAt<Uint32>(p, 0x38), 0xE1u);
    EXPECT_EQ(readAt<Uint32>(p, 0x3C), 0xE2u);
    EXPECT_EQ(readAt<Uint32>(p, 0x40), 0u);
    EXPECT_EQ(readAt<Uint32>(p, 0x44), 4u);
    EXPECT_EQ(readAt<Uint32>(p, 0x48), rc);
}

TEST_F(GTraceRecords, NullItemReservesItsBytesButStoresNone) {
    start();
    _gtraceVar(1, 0, kId, 9, 3, 1, GTRACE_ITEM_BYTES, 5u, nullptr);
    const Slotted s = only();
    EXPECT_EQ(s.slots, (0x38 + 13 + 12 + 63) / 64);
    EXPECT_EQ(readAt<Uint16>(s.payload, 0x26), 13u);
    EXPECT_EQ(readAt<Uint32>(s.payload, 0x34), 1u);
    EXPECT_EQ(readAt<Uint32>(s.payload, 0x3C), 0xFFFFFFFFu);
}

// A null item between two real ones: the second real item's bytes follow the first's directly,
// and the null item's reserved bytes are left at the end of the area.
TEST_F(GTraceRecords, ItemAfterANullItemFollowsTheStoredBytes) {
    start();
    const char first[] = "abc";
    const char second[] = "WXYZ";
    _gtraceVar(1, 0, kId, 9, 3, 3, GTRACE_ITEM_BYTES, 3u, first,
               GTRACE_ITEM_BYTES, 6u, nullptr, GTRACE_ITEM_BYTES, 4u, second);
    const Slotted s = only();
    const Uint32 area = 3 * 8 + 3 + 6 + 4;
    EXPECT_EQ(readAt<Uint16>(s.payload, 0x26), area);
    EXPECT_EQ(readAt<Uint32>(s.payload, 0x34), 3u);
    const Uint32 headers[6] = {GTRACE_ITEM_BYTES, 3, GTRACE_ITEM_BYTES, 0xFFFFFFFF,
                               GTRACE_ITEM_BYTES, 4};
    EXPECT_EQ(memcmp(s.payload + 0x38, headers, sizeof headers), 0);
    const Uint8 bytes[] = {'a', 'b', 'c', 'W', 'X', 'Y', 'Z'};
    EXPECT_EQ(memcmp(s.payload + 0x38 + 24, bytes, sizeof bytes), 0);
}

TEST_F(GTraceRecords, ItemAreaIsCutAt65535Bytes) {
    start(GTRACE_MODE_LINEAR, 0, 0x100000);
    std::string big(70000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    const char* ptr = big.data();
    struct Case {
        const char* what;
        bool errorRc;
        Uint32 n, size1, size2;
        Uint32 wantCount, wantArea, wantLastKind, wantLastSize;
    };
    const Case cases[] = {
        // 35,008 bytes for the first item, the second cut to what is left after its header,
        // the third dropped.
        {"cut", false, 3, 35000, 35000, 2, 65535, GTRACE_ITEM_CUT, 65535 - 35008 - 8},
        // The second header fits with nothing after it: cut to size 0.
        {"cut to 0", false, 2, 65519, 10, 2, 65535, GTRACE_ITEM_CUT, 0},
        // The second header does not fit: dropped.
        {"dropped", false, 2, 65522, 10, 1, 65530, GTRACE_ITEM_BYTES, 65522},
        // With 8 extra bytes, the limit applies to them plus the items.
        {"extra", true, 2, 35000, 35000, 2, 65535, GTRACE_ITEM_CUT, 65535 - 8 - 35008 - 8},
    };
    for (const Case& c : cases) {
        const Uint32 before = nextSequence(mem_);
        if (c.errorRc) {
            _gtraceErrorRcVar(1, 0, kId, 1, 4, 0, 0, 0, 0, 0, c.n, GTRACE_ITEM_BYTES, c.size1, ptr,
                              GTRACE_ITEM_BYTES, c.size2, ptr, GTRACE_ITEM_BYTES, 10u, ptr);
        } else {
            _gtraceVar(1, 0, kId, 1, 3, c.n, GTRACE_ITEM_BYTES, c.size1, ptr, GTRACE_ITEM_BYTES,
                       c.size2, ptr, GTRACE_ITEM_BYTES, 10u, ptr);
        }
        const Slotted s = slotAt(mem_, before);
        ASSERT_EQ(s.marker, 0xCAFEu) << c.what;
        ASSERT_TRUE(s.whole) << c.what;
        const Uint8* p = s.payload;
        const Uint32 items = 0x38 + (c.errorRc ? 8 : 0);
        EXPECT_EQ(readAt<Uint16>(p, 0x26), c.wantArea) << c.what;
        EXPECT_EQ(readAt<Uint32>(p, 0x34), c.wantCount) << c.what;
        EXPECT_EQ(s.slots, (0x38 + c.wantArea + 12 + 63) / 64) << c.what;
        const Uint32 last = items + 8 * (c.wantCount - 1);
        EXPECT_EQ(readAt<Uint32>(p, last), c.wantLastKind) << c.what;
        EXPECT_EQ(readAt<Uint32>(p, last + 4), c.wantLastSize) << c.what;
        // The cut item holds the first bytes of its source.
        const Uint8* lastBytes = p + items + 8 * c.wantCount + (c.wantCount == 2 ? c.size1 : 0);
        EXPECT_EQ(memcmp(lastBytes, big.data(), c.wantLastSize), 0) << c.what;
    }
}

TEST_F(GTraceRecords, TimestampFlagStampsThePerformanceCounter) {
    start(GTRACE_MODE_LINEAR, GTRACE_FLAG_TIMESTAMP);
    const Uint64 before = qpc();
    _gtraceEntry(1, 0, kId, 0, 0);
    const Uint64 after = qpc();
    const Uint64 ts = readAt<Uint64>(only().payload, 0);
    EXPECT_GE(ts, before);
    EXPECT_LE(ts, after);
}

TEST_F(GTraceRecords, ErrorsOnlyPassesErrorClassAndFailedExits) {
    start(GTRACE_MODE_LINEAR, GTRACE_FLAG_ERRORS_ONLY);
    const Uint32 ok = 0, failed = 0x9000000C;
    _gtraceEntry(1, 0, kId, 0, 0);
    _gtraceExit(1, 0, kId, &ok, 0, 0);
    _gtraceExit(1, 0, kId, &failed, 0, 0);
    for (Uint32 type : {3u, 4u, 5u, 6u, 11u, 12u, 13u}) _gtraceError(1, 0, kId, type, type, 0, 0);
    std::vector<Uint16> types;
    for (const Slotted& s : records()) types.push_back(readAt<Uint16>(s.payload, 0x20));
    EXPECT_EQ(types, (std::vector<Uint16>{2, 4, 5, 11, 13}));
}

TEST_F(GTraceRecords, StopConditionDisablesAtTheCountedHit) {
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    o->bufferSize = 0x80000;
    o->mode = GTRACE_MODE_LINEAR;
    o->flags = GTRACE_FLAG_STOP | GTRACE_FLAG_STOP_ON_RC;
    o->stopCount = 2;
    o->stopRcOrSleepPeriod = 0x90000001;
    startWith(*o, nullptr, countDisable, nullptr);
    const Uint32 r = 0x90000001, other = 0x9000000C;
    _gtraceExit(1, 0, kId, &r, 0, 0);
    EXPECT_EQ(cb()->enabled, 1u);
    _gtraceExit(1, 0, kId, &other, 0, 0);
    _gtraceExitVar(1, 0, kId, &other, 0, 0, 0);
    _gtraceError(1, 0, kId, 1, 4, 0, 0);
    EXPECT_EQ(cb()->enabled, 1u);
    EXPECT_EQ(cb()->stopCounter, 2u);
    _gtraceExitVar(1, 0, kId, &r, 0, 0, 0);
    EXPECT_EQ(cb()->enabled, 0u);
    EXPECT_EQ(g_disables, 1);
    EXPECT_EQ(records().size(), 5u) << "the hit itself is written";

    // Error records of type 5 are hits without flag 0x80; exits are not.
    cb()->options.flags = GTRACE_FLAG_STOP;
    cb()->stopCounter = 1;
    gtraceEnable();
    _gtraceExit(1, 0, kId, &r, 0, 0);
    _gtraceMarker(1, 0, kId, 1, 5);
    _gtraceVar(1, 0, kId, 1, 5, 0);
    _gtraceError(1, 0, kId, 1, 5, 0, 0);
    EXPECT_EQ(cb()->enabled, 1u);
    _gtraceErrorVar(1, 0, kId, 1, 5, 0, 0, 0);
    EXPECT_EQ(cb()->enabled, 0u);
}

TEST_F(GTraceRecords, PreTraceCallbackDecidesAndIsRequired) {
    start(GTRACE_MODE_LINEAR, GTRACE_FLAG_PRE_TRACE);
    _gtraceEntry(1, 0, kId, 0, 0);  // no callback registered: nothing is written
    EXPECT_EQ(nextSequence(mem_), 0u);
    gtraceDetach();

    ASSERT_EQ(gtraceAttach(cb(), 77, nullptr, nullptr, recordPre), 0u);
    g_suppressProbe = 41;
    const Uint32 rc = 0;
    _gtraceEntry(1, 0, kId, 0, 0);
    _gtraceExit(1, 0, kId, &rc, 0, 0);
    _gtraceMarker(1, 0, kId, 40, 0x10007);
    _gtraceError(1, 0, kId, 41, 4, 0, 0);  // suppressed
    _gtraceErrorTrans(1, 0, kId, 42, 0, 0, 0, 0);
    _gtraceCorrelatorVar(1, 0, kId, 43, 99, 0, 0, 0);
    const struct { Uint32 type, probe; } want[] = {{1, 0}, {2, 0}, {0x10007, 40}, {4, 41}, {13, 42}, {12, 43}};
    ASSERT_EQ(g_calls.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(g_calls[i].type, want[i].type) << i;
        EXPECT_EQ(g_calls[i].id, kId) << i;
        EXPECT_EQ(g_calls[i].probe, want[i].probe) << i;
    }
    EXPECT_EQ(records().size(), 5u);
}

TEST_F(GTraceRecords, ApplicationCallbackSeesEachRecordAndItsItems) {
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    o->bufferSize = 0x80000;
    o->mode = GTRACE_MODE_LINEAR;
    o->flags = GTRACE_FLAG_APP_CALLBACK;
    startWith(*o, recordApp, nullptr, nullptr);
    const Uint32 rc = 0x9000000C;
    _gtraceEntry(1, 0, kId, 0, 0);
    _gtraceExit(1, 0, kId, &rc, 0, 0);
    _gtraceVar(1, 0, kId, 30, 3, 2, GTRACE_ITEM_VALUE1, 4u, 0xABCDu, GTRACE_ITEM_VALUE1, 4u, 1u);
    _gtraceErrorTrans(1, 0, kId, 31, 0, 0, 0, 0);
    _gtraceCorrelatorVar(1, 0, kId, 32, 7, 0, 0, 1, GTRACE_ITEM_VALUE2, 2u, 5u);
    ASSERT_EQ(g_calls.size(), 5u);
    const Call& entry = g_calls[0];
    EXPECT_EQ(entry.type, 1u);
    EXPECT_EQ(entry.pointer, nullptr);
    EXPECT_EQ(entry.n, 0u);
    EXPECT_EQ(g_calls[1].type, 2u);
    EXPECT_EQ(g_calls[1].pointer, &rc);
    const Call& var = g_calls[2];
    EXPECT_EQ(var.type, 3u);
    EXPECT_EQ(var.probe, 30u);
    EXPECT_EQ(var.n, 2u);
    EXPECT_EQ(var.firstTriple[0], GTRACE_ITEM_VALUE1);
    EXPECT_EQ(var.firstTriple[2], 0xABCDu);
    EXPECT_EQ(g_calls[3].type, 13u);
    EXPECT_EQ(g_calls[3].probe, 31u);
    EXPECT_EQ(g_calls[4].type, 12u);
    EXPECT_EQ(g_calls[4].n, 1u);
    EXPECT_EQ(g_calls[4].firstTriple[2], 5u);
}

TEST_F(GTraceRecords, EventWritersTouchNothing) {
    start();
    _gtraceEvent(1, 0, kId, 1, 2, 3);
    _gtraceEventVar(1, 0, kId, 1, 1, 0, 4, 0);
    EXPECT_EQ(nextSequence(mem_), 0u);
}

// A thread may find the process detached between its frame's test and the writer.
TEST_F(GTraceRecords, WritersOfADetachedProcessDoNothing) {
    start();
    gtraceDetach();
    const Uint32 rc = 1;
    Uint64 ts = 5;
    _gtraceEntry(1, 0, kId, 0, 0);
    _gtraceExit(1, 0, kId, &rc, 0, 0);
    _gtraceMarker(1, 0, kId, 1, 7);
    _gtraceErrorRc(1, 0, kId, 1, 4, 0, 0, rc, 0, 0);
    _gtraceVar(1, 0, kId, 1, 3, 1, GTRACE_ITEM_VALUE1, 4u, 9u);
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, kId, 0, 1));
    EXPECT_FALSE(preOptions(1, kId, 0, 1, &ts));
    EXPECT_EQ(nextSequence(mem_), 0u);
}

TEST_F(GTraceRecords, FullLinearBufferSwitchesTracingOff) {
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    o->bufferSize = 0x80000;
    o->mode = GTRACE_MODE_LINEAR;
    startWith(*o, nullptr, countDisable, nullptr);
    const Uint32 n = slotCount(mem_);
    for (Uint32 i = 0; i < n; ++i) _gtraceEntry(i, 0, kId, i, 0);
    EXPECT_EQ(cb()->enabled, 1u);
    _gtraceEntry(n, 0, kId, n, 0);
    EXPECT_EQ(cb()->enabled, 0u);
    EXPECT_GE(g_disables, 1);
    const std::vector<Slotted> r = records();
    ASSERT_EQ(r.size(), n);
    EXPECT_EQ(readAt<Uint32>(r.back().payload, 0x28), n - 1);
}

// ---- Filtering step ---------------------------------------------------------------------------------

TEST_F(GTraceRecords, ThreadAndFixedDataFilters) {
    start(GTRACE_MODE_LINEAR, GTRACE_FLAG_THREAD_FILTER);
    GTraceOptions& o = options();
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, kId, 0, 5)) << "count 0 lets nothing pass";
    o.threadFilterCount = 3;
    o.threadFilter[0] = {0, 77, 0};                        // not in use
    o.threadFilter[1] = {3, 77, 5};                        // this process, thread 5
    o.threadFilter[2] = {1, 78, 0};                        // another process, any thread
    EXPECT_TRUE(gtraceIsTracePointIncludedInMask(1, kId, 0, 5));
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, kId, 0, 6));
    o.threadFilter[0] = {1, 77, 0};                        // this process, any thread
    EXPECT_TRUE(gtraceIsTracePointIncludedInMask(1, kId, 0, 6));
    o.threadFilterCount = 1000;                            // more than the table: 64 looked at
    EXPECT_TRUE(gtraceIsTracePointIncludedInMask(1, kId, 0, 6));

    o.flags = GTRACE_FLAG_FIXED_DATA2;
    gtraceSetFixedData2(0x42);
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, kId, 0, 5));
    o.fixedData2FilterCount = 2;
    o.fixedData2Filter[1] = 0x42;
    EXPECT_TRUE(gtraceIsTracePointIncludedInMask(1, kId, 0, 5));
    gtraceSetFixedData2(0x43);
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, kId, 0, 5));
    gtraceSetFixedData2(GTRACE_NOT_SET);
}

TEST_F(GTraceRecords, PointBitmapsTakePrecedenceOverTheMask) {
    start(GTRACE_MODE_LINEAR, GTRACE_FLAG_POINT_BITMAPS | GTRACE_FLAG_TRACE_MASK);
    GTMask& m = options().pointBitmaps;
    // The mask would let everything through; the point bitmaps decide alone.
    options().traceMask.gtmSetMask(GTM_ALL, 0, 0, GTM_ALL, 0, 0);
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, kId, 0, 1));
    m.products = 1u << 1;
    m.recordTypes = 1u << 1;
    m.components[3 >> 3] = 1u << 3;
    m.functions[0] = 1u << 3;
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, kId, 0, 1)) << "function kind 2 not set";
    m.functionKinds = 1u << 2;
    EXPECT_TRUE(gtraceIsTracePointIncludedInMask(1, kId, 0, 1));
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(2, kId, 0, 1));
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, kId + 1, 0, 1));
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, 0x081A0000 | 4099, 0, 1));
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(1, kId | (1u << 27) << 1, 0, 1));

    // Without the point bitmaps, the mask answers.
    options().flags = GTRACE_FLAG_TRACE_MASK;
    options().traceMask.gtmClearMask();
    options().traceMask.gtmSetMask(1, 3, 3, 1, 0, 0);
    EXPECT_TRUE(gtraceIsTracePointIncludedInMask(1, kId, 0, 1));
    EXPECT_FALSE(gtraceIsTracePointIncludedInMask(2, kId, 0, 1));
    _gtraceEntry(1, 0, kId, 0, 0);
    _gtraceExit(1, 0, kId, &m.products, 0, 0);
    EXPECT_EQ(records().size(), 1u);
}

TEST_F(GTraceRecords, RandomSleepModeWritesNothing) {
    start(GTRACE_MODE_RANDOM_SLEEP);
    options().stopRcOrSleepPeriod = 1000000;  // never actually sleep here
    _gtraceEntry(1, 0, kId, 0, 0);
    _gtraceVar(1, 0, kId, 1, 3, 0);
    EXPECT_EQ(nextSequence(mem_), 0u);
}

// ---- What the library's own operations write -----------------------------------------------------------

TEST_F(GTraceRecords, FrameRecordsOfTheLibrarysOperations) {
    start();
    EXPECT_TRUE(gtraceFrameOn());
    const Uint32 rc = 0x90000001;
    gtraceFrameEntry(kId);
    gtraceFrameError(kId, 40, &rc);
    gtraceFrameData3(kId, 50, 0x08140092, 5, rc);
    gtraceFrameDataString(kId, 60, "C:\\x");
    gtraceFrameExit(kId, &rc);
    const std::vector<Slotted> r = records();
    ASSERT_EQ(r.size(), 5u);
    const Uint64 tid = GetCurrentThreadId();
    for (const Slotted& s : r) EXPECT_EQ(readAt<Uint64>(s.payload, 0x08), tid);
    EXPECT_EQ(readAt<Uint16>(r[0].payload, 0x20), 1u);
    EXPECT_EQ(readAt<Uint32>(r[0].payload, 0x2C), 1000000u);
    EXPECT_EQ(readAt<Uint16>(r[1].payload, 0x20), 4u);
    EXPECT_EQ(readAt<Uint16>(r[1].payload, 0x24), 40u);
    EXPECT_EQ(readAt<Uint32>(r[1].payload, 0x38 + 4), 4u);
    EXPECT_EQ(readAt<Uint32>(r[1].payload, 0x38 + 8), rc);
    EXPECT_EQ(readAt<Uint16>(r[2].payload, 0x20), 3u);
    EXPECT_EQ(readAt<Uint32>(r[2].payload, 0x34), 3u);
    const Uint32 values[3] = {0x08140092, 5, rc};
    EXPECT_EQ(memcmp(r[2].payload + 0x38 + 24, values, 12), 0);
    EXPECT_EQ(readAt<Uint32>(r[3].payload, 0x38 + 4), 4u);
    EXPECT_EQ(memcmp(r[3].payload + 0x38 + 8, "C:\\x", 4), 0);
    EXPECT_EQ(readAt<Uint16>(r[4].payload, 0x20), 2u);
    EXPECT_EQ(readAt<Uint32>(r[4].payload, 0x30), rc);

    gtraceDisable();
    EXPECT_FALSE(gtraceFrameOn());
    gtraceDetach();
    EXPECT_FALSE(gtraceFrameOn());
}
