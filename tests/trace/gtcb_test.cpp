// Trace control block: sizing, formatting, binding, switching, options and per-process values.
#include "trace_fixture.h"

#include "osse_test.h"
#include "osse/tick.h"

using namespace tracetest;

namespace {

struct Memory {
    explicit Memory(size_t n) : size(n) {
        p = static_cast<Uint8*>(VirtualAlloc(nullptr, n, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~Memory() { VirtualFree(p, 0, MEM_RELEASE); }
    Uint8* p;
    size_t size;
};

int g_disableCalls = 0;
void countDisable() { ++g_disableCalls; }
void appCallBack(Uint32, Uint32, Uint32, void*, Uint32, void*) {}
Uint64 preTrace(Uint32, Uint32, Uint32) { return 0; }

}  // namespace

TEST(GTraceControlBlock, AllocSizeAddsTheRingBufferOrRefusesItsSize) {
    const struct { Uint32 size, expected; } cases[] = {
        {0x80000, 0xD1A40},                     // block + buffer + one chunk descriptor + scratch
        {0x100000, 0x318D8 + 0x1201B8},
        {0x80001, 0},                           // not a power of two
        {0x40000, 0},                           // below 512 KiB
        {0x80000000u, 0},                       // above 1 GiB
    };
    for (const auto& c : cases) EXPECT_EQ(gtraceGetAllocSize(c.size), c.expected) << c.size;
}

TEST(GTraceControlBlock, InitializeRejectsBadArgumentsAndLeavesMemoryAlone) {
    Memory m(gtraceGetAllocSize(0x400000));
    const struct { Uint32 size, mode; bool nullMemory; OSSErr rc; bool zeroed; } cases[] = {
        {0x7FFFF, GTRACE_MODE_LINEAR, false, ECF_GTRACE_INVALID_BUFFER_SIZE, false},
        {0x40000001, GTRACE_MODE_LINEAR, false, ECF_GTRACE_INVALID_BUFFER_SIZE, false},
        {0x80000, GTRACE_MODE_LINEAR, true, ECF_INVALID_PARAMETER, false},
        {0x80000, 0, false, ECF_INVALID_PARAMETER, false},       // no buffer kind
        {0x80000, 0x40, false, ECF_INVALID_PARAMETER, false},    // none of the known kinds
        // Coverage needs room for its buckets: a small buffer is refused before anything is written.
        {0x80000, GTRACE_MODE_COVERAGE, false, ECF_GTRACE_INVALID_BUFFER_SIZE, false},
        {0x200000, GTRACE_MODE_COVERAGE | GTRACE_MODE_LINEAR, false, ECF_GTRACE_INVALID_BUFFER_SIZE, false},
        // In range but not a power of two: the ring buffer refuses it after the block was zeroed.
        {0x300000, GTRACE_MODE_LINEAR, false, ECF_RAMBO_INVALID_BUFFER_SIZE, true},
    };
    GTraceOptions o;
    EXPECT_EQ(gtraceInitialize(m.p, nullptr), ECF_INVALID_PARAMETER);
    for (const auto& c : cases) {
        memset(m.p, 0xAB, GTCB_SIZE);
        o.bufferSize = c.size;
        o.mode = c.mode;
        EXPECT_EQ(gtraceInitialize(c.nullMemory ? nullptr : m.p, &o), c.rc) << c.size << " " << c.mode;
        EXPECT_EQ(m.p[0], c.zeroed ? 0 : 0xAB);
        EXPECT_EQ(readAt<Uint32>(m.p, 8), c.zeroed ? 0u : 0xABABABABu) << "initialized word";
    }
}

TEST(GTraceControlBlock, InitializeFormatsTheBlockAtItsOffsets) {
    const Uint32 size = 0x80000;
    Memory m(gtraceGetAllocSize(size));
    memset(m.p, 0xCD, m.size);
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    o->wrappingDumpMarker = 0x1122334455667788ull;
    o->bufferSize = size;
    o->mode = GTRACE_MODE_CIRCULAR;
    o->flags = GTRACE_FLAG_TIMESTAMP;
    o->stopCount = 9;
    o->threadFilterCount = 1;
    o->threadFilter[0].threadId = 0xAABBCCDD00112233ull;
    o->fixedData2Filter[63] = 0x5A5A5A5A;
    o->fixedData2FilterCount = 64;
    ASSERT_EQ(gtraceInitialize(m.p, o.get()), 0u);

    EXPECT_EQ(memcmp(m.p, "@GTCB@\0\0", 8), 0);
    EXPECT_EQ(readAt<Uint32>(m.p, 0x8), 1u);        // initialized
    EXPECT_EQ(readAt<Uint32>(m.p, 0xC), 0u);        // starts disabled
    EXPECT_EQ(readAt<Uint64>(m.p, 0x10), 0x1122334455667788ull);
    EXPECT_EQ(readAt<Uint32>(m.p, 0x10 + 0x8), size);
    EXPECT_EQ(readAt<Uint32>(m.p, 0x10 + 0xC), GTRACE_MODE_CIRCULAR);
    EXPECT_EQ(readAt<Uint32>(m.p, 0x10 + 0x10), GTRACE_FLAG_TIMESTAMP);
    EXPECT_EQ(readAt<Uint32>(m.p, 0x10 + 0x1C), 9u);
    EXPECT_EQ(readAt<Uint64>(m.p, 0x10 + 0x28 + 8), 0xAABBCCDD00112233ull);
    EXPECT_EQ(readAt<Uint32>(m.p, 0x10 + 0x317B0 + 63 * 4), 0x5A5A5A5Au);
    EXPECT_EQ(readAt<Uint32>(m.p, 0x10 + 0x318B0), 64u);
    // The empty point table of the mask: free list 1 -> 2 -> ..., first free 1.
    const size_t table = 0x10 + 0x650 + 166968;
    EXPECT_EQ(readAt<Uint16>(m.p, table + 16 * 1 + 14), 2u);
    EXPECT_EQ(readAt<Uint16>(m.p, table + 16 * 1998 + 14), 1999u);
    EXPECT_EQ(readAt<Uint16>(m.p, table + 32000), 1u);
    EXPECT_EQ(readAt<Uint32>(m.p, 0x318C8), 1u);    // stop counter
    EXPECT_EQ(memcmp(m.p + 0x318CC, "@GTCB@\0\0", 8), 0);
    EXPECT_EQ(readAt<Uint32>(m.p, 0x318D4), 0u);
    EXPECT_EQ(memcmp(m.p + 0x318D8 + 4, "RAMBOCB", 8), 0);
}

TEST(GTraceControlBlock, ModeWordChoosesTheRingBufferKind) {
    const Uint32 size = 0x80000, n = size / 64;
    Memory m(gtraceGetAllocSize(size));
    // First match wins: auto-dump, circular, linear, random sleep.
    const struct { Uint32 mode; Uint8 wraps, autoDump; Uint32 indexMask; } cases[] = {
        {GTRACE_MODE_CIRCULAR, 1, 0, n - 1},
        {GTRACE_MODE_LINEAR, 0, 0, 2 * n - 1},
        {GTRACE_MODE_AUTODUMP, 1, 1, n - 1},
        {GTRACE_MODE_AUTODUMP | GTRACE_MODE_LINEAR, 1, 1, n - 1},
        {GTRACE_MODE_CIRCULAR | GTRACE_MODE_LINEAR, 1, 0, n - 1},
        {GTRACE_MODE_RANDOM_SLEEP, 0, 0, 2 * n - 1},
        {GTRACE_MODE_PROFILE | GTRACE_MODE_COVERAGE | GTRACE_MODE_LINEAR, 0, 0, 2 * n - 1},
    };
    GTraceOptions o;
    o.bufferSize = size;
    for (const auto& c : cases) {
        o.mode = c.mode;
        ASSERT_EQ(gtraceInitialize(m.p, &o), 0u) << c.mode;
        const Uint8* ring = m.p + GTCB_SIZE;
        EXPECT_EQ(ring[0xA4], c.wraps) << c.mode;
        EXPECT_EQ(ring[0xA5], c.autoDump) << c.mode;
        EXPECT_EQ(readAt<Uint32>(ring, 0x88), c.indexMask) << c.mode;
    }
}

TEST(GTraceControlBlock, OperationsNeedABoundInitializedBlock) {
    gtraceDetach();
    Memory zeroed(gtraceGetAllocSize(0x80000));
    GTraceOptions* ptr = nullptr;
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    for (int round = 0; round < 2; ++round) {
        // Round 0: nothing bound. Round 1: bound to memory that was never formatted, which a
        // process may do before the controller initializes.
        const OSSErr want = round == 0 ? ECF_GTRACE_NOT_ATTACHED : ECF_GTRACE_NOT_INITIALIZED;
        EXPECT_EQ(gtraceEnable(), want);
        EXPECT_EQ(gtraceDisable(), want);
        EXPECT_EQ(gtraceGetOptions(o.get()), want);
        EXPECT_EQ(gtraceGetOptions(nullptr), want);
        EXPECT_EQ(gtraceGetOptionsPtr(&ptr), want);
        EXPECT_EQ(gtraceSetOptions(o.get()), want);
        EXPECT_EQ(gtraceClear(), want);
        if (round == 0) {
            ASSERT_EQ(gtraceAttach(reinterpret_cast<GTCB*>(zeroed.p), 5, nullptr, nullptr, nullptr), 0u);
            EXPECT_EQ(g_pGTCB, reinterpret_cast<GTCB*>(zeroed.p));
        }
    }
    EXPECT_EQ(readAt<Uint32>(zeroed.p, 0xC), 0u) << "enable changed nothing";
    EXPECT_EQ(ptr, nullptr);
    EXPECT_EQ(gtraceDetach(), 0u);
    EXPECT_EQ(g_pGTCB, nullptr);
}

TEST(GTraceControlBlock, AttachChecksBothEyeCatchers) {
    Memory m(gtraceGetAllocSize(0x80000));
    GTraceOptions o;
    o.bufferSize = 0x80000;
    o.mode = GTRACE_MODE_LINEAR;
    EXPECT_EQ(gtraceAttach(nullptr, 1, nullptr, nullptr, nullptr), ECF_INVALID_PARAMETER);
    for (size_t at : {size_t(0), size_t(0x318CC + 7)}) {
        ASSERT_EQ(gtraceInitialize(m.p, &o), 0u);
        m.p[at] ^= 1;
        EXPECT_EQ(gtraceAttach(reinterpret_cast<GTCB*>(m.p), 1, nullptr, nullptr, nullptr),
                  ECF_INVALID_PARAMETER);
        // Left unbound: no trace point writes through a block that failed the check.
        EXPECT_EQ(g_pGTCB, nullptr);
    }
    ASSERT_EQ(gtraceInitialize(m.p, &o), 0u);
    EXPECT_EQ(gtraceAttach(reinterpret_cast<GTCB*>(m.p), 1, nullptr, nullptr, nullptr), 0u);
    gtraceDetach();
}

class GTraceLifecycle : public TraceFixture {};

TEST_F(GTraceLifecycle, EnableAndDisableFlipTheSharedWordAndCallTheDisableCallBack) {
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    o->bufferSize = 0x80000;
    o->mode = GTRACE_MODE_LINEAR;
    g_disableCalls = 0;
    startWith(*o, appCallBack, countDisable, preTrace);
    EXPECT_EQ(readAt<Uint32>(mem_, 0xC), 1u);
    EXPECT_EQ(gtraceGetAppCallBackFnPtr(), &appCallBack);
    EXPECT_EQ(gtraceGetAppPreTraceCallBackFnPtr(), &preTrace);
    EXPECT_EQ(gtraceDisable(), 0u);
    EXPECT_EQ(readAt<Uint32>(mem_, 0xC), 0u);
    EXPECT_EQ(g_disableCalls, 1);
    EXPECT_EQ(gtraceEnable(), 0u);
    EXPECT_EQ(readAt<Uint32>(mem_, 0xC), 1u);

    gtraceDetach();
    EXPECT_EQ(gtraceGetAppCallBackFnPtr(), nullptr);
    EXPECT_EQ(gtraceGetAppPreTraceCallBackFnPtr(), nullptr);
    EXPECT_EQ(gtraceGetProcessID(), 77u) << "the process id outlives the binding";
}

TEST_F(GTraceLifecycle, SetOptionsKeepsTheBufferShapeAndDerivesTheModeFlags) {
    start(GTRACE_MODE_LINEAR | GTRACE_MODE_RANDOM_SLEEP);
    EXPECT_EQ(options().flags, GTRACE_FLAG_RANDOM_SLEEP) << "derived at initialization too";

    std::unique_ptr<GTraceOptions> n(new GTraceOptions);
    n->wrappingDumpMarker = 5;
    n->bufferSize = 0x100000;
    n->mode = GTRACE_MODE_CIRCULAR | GTRACE_MODE_COVERAGE;
    n->flags = GTRACE_FLAG_THREAD_FILTER;
    n->stopCount = 3;
    n->fixedData2FilterCount = 2;
    n->traceMask.gtmSetMask(1, 3, 3, 1, 0, 0);
    EXPECT_EQ(gtraceSetOptions(nullptr), ECF_INVALID_PARAMETER);
    ASSERT_EQ(gtraceSetOptions(n.get()), 0u);
    EXPECT_EQ(options().wrappingDumpMarker, 0u);
    EXPECT_EQ(options().bufferSize, 0x80000u);
    EXPECT_EQ(options().mode, GTRACE_MODE_LINEAR | GTRACE_MODE_RANDOM_SLEEP);
    EXPECT_EQ(options().flags, GTRACE_FLAG_THREAD_FILTER | GTRACE_FLAG_RANDOM_SLEEP);
    EXPECT_EQ(options().stopCount, 3u);
    EXPECT_EQ(options().fixedData2FilterCount, 2u);
    EXPECT_TRUE(options().traceMask.gtmIsElemInMask(0x081A0003, 1, 0));

    std::unique_ptr<GTraceOptions> out(new GTraceOptions);
    GTraceOptions* ptr = nullptr;
    EXPECT_EQ(gtraceGetOptions(nullptr), ECF_INVALID_PARAMETER);
    EXPECT_EQ(gtraceGetOptionsPtr(nullptr), ECF_INVALID_PARAMETER);
    ASSERT_EQ(gtraceGetOptions(out.get()), 0u);
    ASSERT_EQ(gtraceGetOptionsPtr(&ptr), 0u);
    EXPECT_EQ(ptr, &options());
    EXPECT_EQ(memcmp(out.get(), &options(), sizeof(GTraceOptions)), 0);

    // A profile-mode block takes away the timestamp and timing flags, in the caller's copy too.
    options().mode = GTRACE_MODE_PROFILE;
    n->flags = GTRACE_FLAG_TIMESTAMP | GTRACE_FLAG_PROFILE_TIMING | GTRACE_FLAG_STOP;
    ASSERT_EQ(gtraceSetOptions(n.get()), 0u);
    EXPECT_EQ(n->flags, GTRACE_FLAG_STOP);
    EXPECT_EQ(options().flags, GTRACE_FLAG_STOP | GTRACE_FLAG_PROFILE_MODE);
}

TEST_F(GTraceLifecycle, ClearStartsANewSequence) {
    start(GTRACE_MODE_LINEAR);
    const Uint32 n = slotCount(mem_);
    _gtraceEntry(1, 0, 0x081A0003, 0, 0);
    ASSERT_EQ(nextSequence(mem_), 1u);
    EXPECT_EQ(gtraceClear(), 0u);
    EXPECT_EQ(nextSequence(mem_), 2 * n) << "linear: the next empty window";
    gtraceDetach();
    VirtualFree(mem_, 0, MEM_RELEASE);
    mem_ = nullptr;

    start(GTRACE_MODE_CIRCULAR);
    _gtraceEntry(1, 0, 0x081A0003, 0, 0);
    EXPECT_EQ(gtraceClear(), 0u);
    EXPECT_EQ(nextSequence(mem_), n + 1);
    EXPECT_EQ(readAt<Uint32>(ringOf(mem_), 0x84), n + 1) << "sequence start";
    gtraceDetach();
    VirtualFree(mem_, 0, MEM_RELEASE);
    mem_ = nullptr;

    start(GTRACE_MODE_AUTODUMP);
    EXPECT_EQ(gtraceClear(), ECF_NOT_SUPPORTED);
}

namespace {
int g_sleeps = 0;
Uint32 countSleep() {
    ++g_sleeps;
    return 0;
}
}  // namespace

TEST_F(GTraceLifecycle, RandomSleepSleepsEveryPeriodthCall) {
    start(GTRACE_MODE_RANDOM_SLEEP);
    ossSetYieldCallbacks(countSleep, nullptr);
    // The call counter is per process and other tests may have moved it: a period of 1 sleeps
    // and restarts it at 1.
    options().stopRcOrSleepPeriod = 1;
    _gtraceRandSleep();
    g_sleeps = 0;
    options().stopRcOrSleepPeriod = 3;
    std::vector<int> after;
    for (int call = 1; call <= 6; ++call) {
        _gtraceRandSleep();
        after.push_back(g_sleeps);
    }
    EXPECT_EQ(after, (std::vector<int>{0, 0, 1, 1, 1, 2}));
    // In random-sleep mode the trace points that pass the filters sleep instead of writing.
    for (int call = 1; call <= 3; ++call) _gtraceEntry(1, 0, 0x081A0003, 0, 0);
    EXPECT_EQ(g_sleeps, 3);
    EXPECT_EQ(nextSequence(mem_), 0u);
    // A period of 0 or 1 sleeps at every call.
    options().stopRcOrSleepPeriod = 1;
    _gtraceRandSleep();
    _gtraceRandSleep();
    EXPECT_EQ(g_sleeps, 5);
    ossSetYieldCallbacks(nullptr, nullptr);
}

// A process that never attached sees the unset values.
OSSE_CHILD_ROLE(trace_fresh_process) {
    (void)args;
    if (gtraceGetProcessID() != GTRACE_NOT_SET) return 1;
    if (gtraceGetFixedData1() != GTRACE_NOT_SET) return 2;
    if (gtraceGetFixedData2() != GTRACE_NOT_SET) return 3;
    if (g_pGTCB != nullptr) return 4;
    gtraceSetProcessID(1);
    gtraceSetFixedData1(2);
    gtraceSetFixedData2(3);
    if (gtraceGetProcessID() != 1 || gtraceGetFixedData1() != 2 || gtraceGetFixedData2() != 3) {
        return 5;
    }
    return 0;
}

TEST(GTraceProcessState, UnsetUntilSetInEachProcess) {
    gtraceSetProcessID(10);
    gtraceSetFixedData1(11);
    EXPECT_EQ(ossetest::runChild("trace_fresh_process"), 0);
}
