// Profile and coverage modes: the tables kept behind the control block, their dumps and the
// writers' routing to them.
#include "dump_helpers.h"
#include "trace_fixture.h"

#include "osse_test.h"

#include <thread>

using namespace tracetest;

namespace {

constexpr Uint32 kF = 0x081A0003;
constexpr Uint32 kG = 0x081A0007;

class Profile : public TraceFixture {
protected:
    GTraceProfileEntry* table() {
        return reinterpret_cast<GTraceProfileEntry*>(static_cast<Uint8*>(mem_) + GTCB_SIZE);
    }
    Uint32 entries() { return options().bufferSize / 24; }
    // The entry of (f, q), or null.
    GTraceProfileEntry* find(Uint32 f, Uint32 q = GTRACE_PROFILE_NO_QUALIFIER) {
        for (Uint32 i = 0; i < entries(); ++i)
            if (table()[i].functionId == f && table()[i].qualifier == q) return &table()[i];
        return nullptr;
    }
    Uint32 used() {
        Uint32 n = 0;
        for (Uint32 i = 0; i < entries(); ++i) n += table()[i].functionId != 0;
        return n;
    }
};

}  // namespace

TEST_F(Profile, CountsCallsPerFunctionAndNeverTouchesARingBuffer) {
    start(GTRACE_MODE_PROFILE);
    EXPECT_TRUE(options().flags & GTRACE_FLAG_PROFILE_MODE);
    _gtraceEntry(1, 0, kF, 0, 1000000);
    _gtraceEntry(1, 0, kF, 0, 1000000);
    const Uint32 rc = 0;
    _gtraceExit(1, 0, kF, &rc, 0, 0);
    _gtraceMarker(1, 0, kF, 5, 3);
    _gtraceVar(1, 0, kF, 5, 3, 1, 1u, 4u, 7u);
    ASSERT_NE(find(kF), nullptr);
    EXPECT_EQ(find(kF)->calls, 2u);
    EXPECT_EQ(find(kF)->ticks, 0u);
    EXPECT_EQ(used(), 1u) << "exits, markers and data points change nothing";

    // Flags 0 set while writers run: the mode still routes every writer to the table.
    GTraceOptions* o = new GTraceOptions;
    EXPECT_EQ(gtraceSetOptions(o), 0u);
    EXPECT_TRUE(options().flags & GTRACE_FLAG_PROFILE_MODE);
    delete o;
    _gtraceEntry(1, 0, kF, 0, 1000000);
    EXPECT_EQ(find(kF)->calls, 3u);

    ASSERT_EQ(gtraceClear(), 0u);
    EXPECT_EQ(used(), 0u);
}

TEST_F(Profile, QualifierKeysIncludingTheLargestOne) {
    start(GTRACE_MODE_PROFILE, GTRACE_FLAG_PROFILE_QUALIFY);
    for (Uint32 q : {7u, 7u, 0xFFFFFFFFu, 0u}) _gtraceEntry(1, 0, kF, 0, q);
    ASSERT_NE(find(kF, 7), nullptr);
    EXPECT_EQ(find(kF, 7)->calls, 2u);
    ASSERT_NE(find(kF, 0xFFFFFFFFu), nullptr) << "q + 1 computed in 64 bits";
    ASSERT_NE(find(kF, 0), nullptr);
}

TEST_F(Profile, FullTableCountsLostCalls) {
    start(GTRACE_MODE_PROFILE);
    for (Uint32 i = 0; i < entries(); ++i) table()[i].functionId = 0x7777;  // every slot taken
    const Uint32 before = cb()->stopCounter;
    _gtraceEntry(1, 0, kF, 0, 1000000);
    EXPECT_EQ(cb()->stopCounter, before + 1);
}

TEST_F(Profile, OneKeyHasOneSlotOnEveryThread) {
    start(GTRACE_MODE_PROFILE);
    std::thread t([] {
        for (Uint32 f = 1; f < 2000; ++f) _gtraceEntry(2, 0, 0x08000000u | f * 7919u, 0, 1000000);
    });
    t.join();
    for (Uint32 f = 1; f < 2000; ++f) _gtraceEntry(1, 0, 0x08000000u | f * 7919u, 0, 1000000);
    Uint32 twice = 0;
    for (Uint32 i = 0; i < entries(); ++i) twice += table()[i].calls == 2;
    EXPECT_EQ(twice, 1999u);
}

TEST_F(Profile, TimedCallsNestAndRecurse) {
    start(GTRACE_MODE_PROFILE, GTRACE_FLAG_PROFILE_TIMING);
    const Uint32 rc = 0;
    // f calls g calls f (recursion): the inner exit of f ends only the inner frame.
    _gtraceEntry(1, 0, kF, 0, 1000000);
    _gtraceEntry(1, 0, kG, 0, 1000000);
    _gtraceEntry(1, 0, kF, 0, 1000000);
    Sleep(5);
    _gtraceExit(1, 0, kF, &rc, 0, 0);
    const Uint64 inner = find(kF)->ticks;
    EXPECT_GT(inner, 0u) << "the timing flag alone reads the clock";
    _gtraceExit(1, 0, kG, &rc, 0, 0);
    EXPECT_GT(find(kG)->ticks, 0u) << "g's frame was still there";
    _gtraceExit(1, 0, kF, &rc, 0, 0);
    EXPECT_GT(find(kF)->ticks, inner) << "the outer f ended last";
    EXPECT_EQ(find(kF)->calls, 2u);

    // Past 512 frames depth keeps counting: the 513th entry is counted, not stored, and the
    // exits pair up again below it.
    for (Uint32 i = 0; i < 513; ++i) _gtraceEntry(1, 0, kG, 0, 1000000);
    EXPECT_EQ(find(kG)->calls, 514u);
    for (Uint32 i = 0; i < 513; ++i) _gtraceExit(1, 0, kG, &rc, 0, 0);
    _gtraceEntry(1, 0, kF, 0, 1000000);
    const Uint64 before = find(kF)->ticks;
    Sleep(2);
    _gtraceExit(1, 0, kF, &rc, 0, 0);
    EXPECT_GT(find(kF)->ticks, before);
}

TEST_F(Profile, DumpReadsBackTheUsedEntries) {
    start(GTRACE_MODE_PROFILE);
    _gtraceEntry(1, 0, kF, 0, 1000000);
    _gtraceEntry(1, 0, kG, 0, 1000000);
    _gtraceEntry(1, 0, kG, 0, 1000000);
    Bytes header(GTRACE_DUMP_HEADER_BUFFER_SIZE, 0xEE);
    void* data = nullptr;
    Uint32 size = 0;
    ASSERT_EQ(gtraceGetDumpHeaderBuffer(true, header.data(), &data, &size), 0u);
    EXPECT_EQ(size, entries() * 24);
    for (size_t i = GTRACE_DUMP_HEADER_SIZE; i < header.size(); ++i) ASSERT_EQ(header[i], 0) << "no stale bytes";
    RamboDumpTail tail;
    EXPECT_EQ(gtraceGetDumpTail(&tail), 0u);
    Bytes file(header);
    file.insert(file.end(), static_cast<Uint8*>(data), static_cast<Uint8*>(data) + size);
    ossetest::TempDir dir;
    const std::string path = dir.file("p.dmp");
    ASSERT_TRUE(writeBytes(path, file));
    OSSHFile f;
    ASSERT_TRUE(openRead(f, path));
    EXPECT_EQ(gtraceValidateDumpFile(&f, GTRACE_DUMP_PROFILE), 0u) << "no ring head is looked for";
    EXPECT_EQ(gtraceValidateDumpFile(&f, GTRACE_DUMP_RECORDS), ECF_INVALID_PARAMETER);
    GTraceDumpParser p;
    ASSERT_EQ(gtraceOpenDumpFileParser(&f, &p, true), 0u);
    EXPECT_EQ(p.kind, GTRACE_DUMP_PROFILE);
    GTraceProfileEntry e;
    Uint32 calls = 0, n = 0;
    while (gtraceParseRecords(&f, &p, nullptr, &e, sizeof e) == 24) calls += e.calls, ++n;
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(calls, 3u);
    EXPECT_EQ(gtraceCloseDumpFileParser(&p), 0u);
    EXPECT_EQ(gtraceCloseDumpFileParser(&p), ECF_INVALID_PARAMETER);
    f.close();
}

namespace {

class Coverage : public TraceFixture {
protected:
    Uint8* area() { return static_cast<Uint8*>(mem_) + GTCB_SIZE; }
    struct Entry {
        Uint32 f;
        Uint16 type, probe;
        Uint32 count, zero;
        Uint64 bits, next;
    };
    std::vector<Entry*> all() {
        std::vector<Entry*> v;
        for (Uint32 b = 0; b < 262144; ++b)
            for (Uint64 off = readAt<Uint64>(area(), 0x20 + 16u * b); off; off = reinterpret_cast<Entry*>(area() + off)->next)
                v.push_back(reinterpret_cast<Entry*>(area() + off));
        return v;
    }
    Entry* find(Uint32 f, Uint16 type, Uint16 probe) {
        for (Entry* e : all())
            if (e->f == f && e->type == type && e->probe == probe) return e;
        return nullptr;
    }
};

}  // namespace

TEST_F(Coverage, CountsPointsAndExitBits) {
    start(GTRACE_MODE_COVERAGE, 0, 0x800000);
    EXPECT_EQ(gctraceValidateTraceType(), 0u);
    GTraceAddressWord offset = 0;
    EXPECT_EQ(gctraceGetOffset(&offset), 0u);
    EXPECT_EQ(offset, (GTraceAddressWord)(uintptr_t)area());
    const Uint32 ok = 0;
    _gtraceEntry(1, 0, kF, 0, 1000000);
    _gtraceEntry(1, 0, kF, 0, 1000000);
    _gtraceMarker(1, 0, kF, 40, 4);
    _gtraceMarker(1, 0, kF, 41, 4);  // same function and type, another probe: its own entry
    _gtraceExit(1, 0, kF, &ok, 0x5, 0);
    _gtraceExit(1, 0, kF, &ok, 0x2, 0x80000000u);
    ASSERT_NE(find(kF, 1, 0), nullptr);
    EXPECT_EQ(find(kF, 1, 0)->count, 2u);
    ASSERT_NE(find(kF, 4, 40), nullptr);
    ASSERT_NE(find(kF, 4, 41), nullptr);
    EXPECT_EQ(find(kF, 4, 41)->count, 1u);
    Entry* exit = find(kF, 2, 0);
    ASSERT_NE(exit, nullptr);
    EXPECT_EQ(exit->count, 2u);
    const Uint32* words = reinterpret_cast<const Uint32*>(area() + exit->bits);
    for (Uint32 i = 0; i < 64; ++i)
        EXPECT_EQ(words[i], (i == 0 || i == 1 || i == 2 || i == 63) ? 1u : 0u) << "bits OR together; bit " << i;

    // A marker of type 2, probe 0 makes an entry without a bit block. For this function the
    // marker's bucket is also the exit's, so the exit finds that entry: it counts and leaves the
    // area's header (offset 0 of the area) alone.
    const Uint32 h = 0x08004A76;
    _gtraceMarker(1, 0, h, 0, 2);
    const Bytes header(area(), area() + 0x20);
    _gtraceExit(1, 0, h, &ok, 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(Bytes(area(), area() + 0x20), header);
    EXPECT_EQ(find(h, 2, 0)->count, 2u);

    // Clearing while disabled still waits for points in flight (tracing may have been switched
    // off an instant before, with points of other threads still inside), then empties the table.
    gtraceDisable();
    const ULONGLONG before = GetTickCount64();
    ASSERT_EQ(gtraceClear(), 0u);
    EXPECT_GE(GetTickCount64() - before, 4900u);
    EXPECT_TRUE(all().empty());
    EXPECT_EQ(readAt<Uint64>(area(), 0x18), 0x400020u);
}

TEST(CoverageType, ValidateTraceTypeNeedsExactlyCoverage) {
    gtraceDetach();
    EXPECT_EQ(gctraceValidateTraceType(), ECF_INVALID_ADDRESS);
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    o->bufferSize = 0x80000;
    o->mode = 0x88 | GTRACE_MODE_LINEAR;  // both bits: an ordinary buffer
    const Uint32 size = gtraceGetAllocSize(o->bufferSize);
    void* mem = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_EQ(gtraceInitialize(mem, o.get()), 0u);
    ASSERT_EQ(gtraceAttach(static_cast<GTCB*>(mem), 1, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(gctraceValidateTraceType(), ECF_INVALID_PARAMETER);
    gtraceDetach();
    VirtualFree(mem, 0, MEM_RELEASE);
}

// A point in flight while the area is cleared can leave an entry linked to itself. In a child
// process (a walk that loops never ends): a point of another type in the same chain must walk
// past that entry, count itself and return.
OSSE_CHILD_ROLE(coverageSelfLinkedChain) {
    (void)args;
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    o->bufferSize = 0x800000;
    o->mode = GTRACE_MODE_COVERAGE;
    void* mem = VirtualAlloc(nullptr, gtraceGetAllocSize(o->bufferSize), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (mem == nullptr || gtraceInitialize(mem, o.get()) != 0) return 90;
    if (gtraceAttach(static_cast<GTCB*>(mem), 1, nullptr, nullptr, nullptr) != 0) return 91;
    gtraceEnable();
    const Uint32 f = 0x081A0003;
    _gtraceMarker(1, 0, f, 40, 4);
    Uint8* area = static_cast<Uint8*>(mem) + GTCB_SIZE;
    Uint64 first = 0;
    for (Uint32 b = 0; b < 262144 && first == 0; ++b) first = readAt<Uint64>(area, 0x20 + 16u * b);
    if (first == 0) return 92;
    memcpy(area + first + 24, &first, 8);  // next: itself
    _gtraceMarker(1, 0, f, 40, 5);          // same bucket (function and probe), another type
    Uint64 head = 0;
    for (Uint32 b = 0; b < 262144 && head == 0; ++b) head = readAt<Uint64>(area, 0x20 + 16u * b);
    // The new entry heads the chain with count 1.
    if (head == first || readAt<Uint16>(area, head + 4) != 5 || readAt<Uint32>(area, head + 8) != 1) return 93;
    return 0;
}

TEST(CoverageChain, AnEntryLinkedToItselfEndsTheWalk) {
    EXPECT_EQ(ossetest::runChild("coverageSelfLinkedChain", {}, {}, 30000), 0);
}
