// Trace ring buffer: layout bytes, geometry, modes, straddles, sequences and auto-dump counting,
// driven from one thread (the concurrent cases are in rambo_concurrency_test.cpp).
#include <windows.h>

#include <string.h>

#include <atomic>
#include <thread>

#include "osse/rambo.h"
#include "osse/tick.h"
#include "osse_test.h"

namespace {

constexpr Uint32 kS = 0x80000;      // smallest buffer: 8192 slots, 4 chunks
constexpr Uint32 kN = kS / 64;

// Ring buffer memory from the system (page aligned, zero filled).
class Buffer {
public:
    explicit Buffer(Uint32 size, Uint8 fill = 0) : size_(size) {
        bytes_ = static_cast<Uint8*>(
            VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (bytes_ != nullptr && fill != 0) memset(bytes_, fill, size);
    }
    ~Buffer() { VirtualFree(bytes_, 0, MEM_RELEASE); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    RamboControlBlock* cb() const { return reinterpret_cast<RamboControlBlock*>(bytes_); }
    Uint8* at(Uint32 offset) const { return bytes_ + offset; }
    Uint8* slot(Uint32 index) const { return bytes_ + cb()->dataOffset + 64 * index; }
    Uint32 u32(Uint32 offset) const { Uint32 v; memcpy(&v, bytes_ + offset, 4); return v; }
    Uint16 u16(Uint32 offset) const { Uint16 v; memcpy(&v, bytes_ + offset, 2); return v; }
    Uint8 u8(Uint32 offset) const { return bytes_[offset]; }
    Uint32 format() const { return u32(RAMBO_FORMAT_OFFSET); }
    Uint32 size() const { return size_; }

private:
    Uint8* bytes_;
    Uint32 size_;
};

Uint32 rd32(const Uint8* p) { Uint32 v; memcpy(&v, p, 4); return v; }
Uint16 rd16(const Uint8* p) { Uint16 v; memcpy(&v, p, 2); return v; }

// The reader's acceptance rule: marker, slot count in range, trailer = complement of sequence
// (sealed with the payload in a wrapping ring, which every test here formats as the library does).
bool isRecord(Uint32 format, const Uint8* slot, Uint32* seq = nullptr, Uint32* k = nullptr) {
    const Uint32 s = rd32(slot);
    const Uint32 n = rd16(slot + 6);
    if (rd16(slot + 4) != 0xCAFE || n < 1 || n > 2048) return false;
    if (ramboCheckRecord(slot, n, format) != n) return false;
    if (seq) *seq = s;
    if (k) *k = n;
    return true;
}

// Reserves, fills and publishes one record; returns its token.
RamboReservation put(RamboControlBlock* cb, Uint32 payload, Uint8 fill) {
    RamboReservation t;
    void* p = payload == 52 ? ramboReserveOneSlot(cb, &t) : ramboReserveSlots(cb, payload, &t);
    memset(p, fill, payload);
    ramboSync(cb, &t);
    return t;
}

Uint32 indexOf(const Buffer& b, const RamboReservation& t) {
    return static_cast<Uint32>((static_cast<Uint8*>(t.slot) - b.slot(0)) / 64);
}

std::atomic<int> g_fullCalls{0};
Uint32 countFull() { ++g_fullCalls; return 0; }

}  // namespace

TEST(RamboGeometry, RoundNearest2AndAllocSize)
{
    struct { Uint32 x, round; } rounds[] = {
        {0, 0}, {1, 1}, {2, 2}, {3, 2}, {0x180000, 0x100000}, {0x80000, 0x80000},
        {0x7FFFFFFF, 0x40000000}, {0xFFFFFFFF, 0x80000000},
    };
    for (auto& c : rounds) EXPECT_EQ(ramboRoundNearest2(c.x), c.round) << std::hex << c.x;

    struct { Uint32 s, alloc; } sizes[] = {
        {0x100000, 0x1201B8},                          // 8 descriptors: T = 0xA0
        {0x80000, 0x80000 + 0x50 + 0x20118},           // 4 descriptors: 80 bytes
        {0x200000, 0x200000 + 0x140 + 0x20118},        // 16 descriptors: 320 bytes
        {0x40000000, 0x40000000 + 0x28000 + 0x20118},  // 8192 descriptors
        {0x40000, 0}, {0x80000000, 0}, {0x180000, 0}, {0x80001, 0}, {0, 0},
    };
    for (auto& c : sizes) EXPECT_EQ(ramboGetAllocSize(c.s), c.alloc) << std::hex << c.s;
}

// Every field read back at its offset after formatting, for each mode (1 MiB: 8 descriptors,
// T = 0xA0).
TEST(RamboLayout, ControlBlockAndChunkTableBytes)
{
    struct Case { Uint32 mode, mask; Uint8 wraps, allowed, enabled; } cases[] = {
        {1, 0x4000 - 1, 1, 0, 0},
        {2, 0x8000 - 1, 0, 0, 0},
        {4, 0x4000 - 1, 1, 1, 1},
    };
    const Uint32 S = 0x100000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Buffer b(ramboGetAllocSize(S), 0xAB);
        ASSERT_EQ(ramboInitialize(b.cb(), S, c.mode), 0u);
        EXPECT_EQ(b.u32(0x00), 0u);
        EXPECT_EQ(memcmp(b.at(0x04), "RAMBOCB\0", 8), 0);
        // Reserved bytes zero, but for the record format: sealed where the ring wraps.
        EXPECT_EQ(b.u32(RAMBO_FORMAT_OFFSET), c.wraps ? RAMBO_FORMAT_SEALED : RAMBO_FORMAT_PLAIN);
        for (Uint32 off = 0x0C; off < 0x80; ++off) {
            if (off >= RAMBO_FORMAT_OFFSET && off < RAMBO_FORMAT_OFFSET + 4) continue;
            ASSERT_EQ(b.u8(off), 0) << off;
        }
        EXPECT_EQ(b.u8(0x80), 0) << "lock released";
        EXPECT_EQ(b.u8(0x81) | b.u8(0x82) | b.u8(0x83), 0);
        EXPECT_EQ(b.u32(0x84), 0u);
        EXPECT_EQ(b.u32(0x88), c.mask);
        EXPECT_EQ(b.u32(0x8C), 0x100u + 0xA0u);
        EXPECT_EQ(b.u32(0x90), 0x100u);
        EXPECT_EQ(b.u32(0x94), 0x100u + 0xA0u + S);
        EXPECT_EQ(b.u32(0x98), S);
        EXPECT_EQ(b.u32(0x9C), 8u);
        EXPECT_EQ(b.u32(0xA0), S / 64);
        EXPECT_EQ(b.u8(0xA4), c.wraps);
        EXPECT_EQ(b.u8(0xA5), c.allowed);
        EXPECT_EQ(b.u8(0xA6), c.enabled);
        for (Uint32 off = 0xA7; off < 0x100; ++off) ASSERT_EQ(b.u8(off), 0) << off;
        for (Uint32 i = 0; i < 8; ++i) {
            const Uint32 d = 0x100 + 20 * i;
            EXPECT_EQ(memcmp(b.at(d), "RAMBOCK\0", 8), 0) << i;
            EXPECT_EQ(b.u32(d + 8), 0u);   // filled
            EXPECT_EQ(b.u32(d + 12), 0u);  // lap
            EXPECT_EQ(b.u32(d + 16), i);   // index
        }
        // The data area is zeroed, the memory around it is left alone.
        for (Uint32 off = 0x1A0; off < 0x1A0 + S; off += 4) ASSERT_EQ(b.u32(off), 0u) << off;
        EXPECT_EQ(b.u8(0x1A0 + S), 0xAB) << "scratch is not touched";
    }
}

TEST(RamboLayout, RecordSlotHeaderPayloadAndTrailer)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 1), 0u);
    // The plain format, as rings were formatted before records were sealed (the sealed trailer
    // is checked where lapped writers are).
    memset(b.at(RAMBO_FORMAT_OFFSET), 0, 4);
    memset(b.slot(0), 0x5A, 4 * 64);  // old contents that the record does not overwrite

    RamboReservation one;
    Uint8* p1 = static_cast<Uint8*>(ramboReserveOneSlot(b.cb(), &one));
    EXPECT_EQ(p1, b.slot(0) + 8);
    EXPECT_EQ(one.slot, b.slot(0));
    EXPECT_EQ(one.chunk, nullptr);
    EXPECT_EQ(one.sequence, 0u);
    EXPECT_EQ(one.slotCount, 1);
    EXPECT_FALSE(isRecord(b.format(), b.slot(0))) << "reserved but not yet published";
    memset(p1, 0x11, 52);
    ramboSync(b.cb(), &one);
    EXPECT_TRUE(isRecord(b.format(), b.slot(0)));

    // 100 payload bytes: ceil(112 / 64) = 2 slots at index 1.
    RamboReservation two;
    Uint8* p2 = static_cast<Uint8*>(ramboReserveSlots(b.cb(), 100, &two));
    EXPECT_EQ(p2, b.slot(1) + 8);
    EXPECT_EQ(two.sequence, 1u);
    EXPECT_EQ(two.slotCount, 2);
    EXPECT_EQ(two.firstChunkSlots, 2);
    memset(p2, 0x22, 100);
    EXPECT_FALSE(isRecord(b.format(), b.slot(1)));
    ramboSync(b.cb(), &two);

    const Uint32 s1 = b.cb()->dataOffset + 64;
    EXPECT_EQ(b.u32(s1 + 0), 1u);
    EXPECT_EQ(b.u16(s1 + 4), 0xCAFE);
    EXPECT_EQ(b.u16(s1 + 6), 2);
    EXPECT_EQ(b.u8(s1 + 8), 0x22);
    EXPECT_EQ(b.u8(s1 + 107), 0x22);
    for (Uint32 off = 108; off < 124; ++off) EXPECT_EQ(b.u8(s1 + off), 0x5A) << "gap kept";
    EXPECT_EQ(b.u32(s1 + 124), ~1u);
    EXPECT_TRUE(isRecord(b.format(), b.slot(1)));
    EXPECT_EQ(b.cb()->nextSequence, 3u);

    // A wrong marker or a wrong trailer is not a record.
    Uint8 copy[128];
    memcpy(copy, b.slot(1), 128);
    copy[4] ^= 1;
    EXPECT_FALSE(isRecord(b.format(), copy));
    memcpy(copy, b.slot(1), 128);
    copy[124] ^= 1;
    EXPECT_FALSE(isRecord(b.format(), copy));

    // Size boundaries of the slot count; the largest record is one chunk.
    struct { Uint32 payload; Uint16 k; } sizes[] = {
        {0, 1}, {52, 1}, {53, 2}, {116, 2}, {117, 3}, {131060, 2048},
    };
    for (auto& c : sizes) {
        RamboReservation t;
        ramboReserveSlots(b.cb(), c.payload, &t);
        EXPECT_EQ(t.slotCount, c.k) << c.payload;
    }

    // Null pointers publish nothing.
    ramboSync(nullptr, &two);
    ramboSync(b.cb(), nullptr);
}

TEST(RamboInitialize, RejectsBadSizeNullBlockAndUnknownMode)
{
    Buffer b(ramboGetAllocSize(kS));
    for (Uint32 s : {0u, 0x40000u, 0x80001u, 0x180000u, 0x80000000u}) {
        EXPECT_EQ(ramboInitialize(b.cb(), s, 1), 0x90000089u) << std::hex << s;
    }
    EXPECT_EQ(ramboInitialize(nullptr, kS, 1), 0x9000000Cu);
    for (Uint32 mode : {0u, 3u, 5u, 8u}) {
        EXPECT_EQ(ramboInitialize(b.cb(), kS, mode), 0x9000000Cu) << mode;
        EXPECT_EQ(b.u8(0x80), 0) << "lock released";
        EXPECT_EQ(ramboNewSequence(b.cb()), 0x90000090u) << "block stays unusable";
    }
    // A failed mode also unformats a block that was in use.
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 1), 0u);
    EXPECT_EQ(ramboInitialize(b.cb(), kS, 7), 0x9000000Cu);
    EXPECT_EQ(ramboNewSequence(b.cb()), 0x90000090u);
}

TEST(RamboChecks, CheckedOperationsRefuseNullUninitializedAndWrongMode)
{
    Buffer never(ramboGetAllocSize(kS));
    Buffer circ(ramboGetAllocSize(kS)), lin(ramboGetAllocSize(kS)), dump(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(circ.cb(), kS, 1), 0u);
    ASSERT_EQ(ramboInitialize(lin.cb(), kS, 2), 0u);
    ASSERT_EQ(ramboInitialize(dump.cb(), kS, 4), 0u);
    RamboChunkWalker w;

    EXPECT_EQ(ramboNewSequence(nullptr), 0x9000000Cu);
    EXPECT_EQ(ramboAutoDumpEnabled(nullptr, true), 0x9000000Cu);
    EXPECT_EQ(ramboInitializeChunkWalker(nullptr, &w), 0x9000000Cu);

    EXPECT_EQ(ramboNewSequence(never.cb()), 0x90000090u);
    EXPECT_EQ(ramboAutoDumpEnabled(never.cb(), true), 0x90000090u);
    EXPECT_EQ(ramboInitializeChunkWalker(never.cb(), &w), 0x90000090u);
    EXPECT_EQ(ramboInitializeChunkWalker(never.cb(), nullptr), 0x90000090u);

    EXPECT_EQ(ramboAutoDumpEnabled(circ.cb(), true), 0x90000085u);
    EXPECT_EQ(ramboAutoDumpEnabled(lin.cb(), false), 0x90000085u);
    EXPECT_EQ(circ.u8(0xA6), 0);
    EXPECT_EQ(ramboInitializeChunkWalker(circ.cb(), &w), 0x90000085u);
    EXPECT_EQ(ramboInitializeChunkWalker(lin.cb(), nullptr), 0x90000085u);
    EXPECT_EQ(ramboInitializeChunkWalker(dump.cb(), nullptr), 0x9000000Cu);
    EXPECT_EQ(ramboNewSequence(dump.cb()), 0x90000005u);
    EXPECT_EQ(dump.cb()->nextSequence, 0u);

    EXPECT_EQ(ramboAutoDumpEnabled(dump.cb(), false), 0u);
    EXPECT_EQ(dump.u8(0xA6), 0);
    EXPECT_EQ(ramboAutoDumpEnabled(dump.cb(), true), 0u);
    EXPECT_EQ(dump.u8(0xA6), 1);
    EXPECT_EQ(dump.u8(0x80), 0);

    memset(&w, 0xFF, sizeof w);
    ASSERT_EQ(ramboInitializeChunkWalker(dump.cb(), &w), 0u);
    EXPECT_EQ(w.controlBlock, dump.cb());
    EXPECT_EQ(static_cast<void*>(w.chunk0), dump.at(0x100));
    EXPECT_EQ(w.chunkNumber, 0u);
    EXPECT_EQ(w.slot0, dump.slot(0));
}

namespace {
// Counts the yields (and latch sleeps) of this process.
std::atomic<int> g_yields{0};
Uint32 countYield() { ++g_yields; return 0; }
}  // namespace

// Configuration operations wait for the latch at 0x80 and leave it free. Switching auto-dump is
// one store that never waits for it: a tool killed while holding the latch must not keep the
// writers waiting for a dumper that is gone.
TEST(RamboChecks, ConfigurationWaitsForTheLock)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 1), 0u);
    b.cb()->nextSequence = 5;
    b.cb()->lock.lockWord = 0x80;  // held by someone else
    g_yields = 0;
    ossSetYieldCallbacks(countYield, nullptr);
    std::atomic<bool> done{false};
    std::thread t([&] {
        EXPECT_EQ(ramboNewSequence(b.cb()), 0u);
        done = true;
    });
    while (g_yields.load() == 0 && !done.load()) Sleep(1);  // the contended latch sleeps
    EXPECT_FALSE(done.load());
    EXPECT_EQ(b.u32(0x84), 0u);
    b.cb()->lock.release();
    t.join();
    ossSetYieldCallbacks(nullptr, nullptr);
    EXPECT_TRUE(done.load());
    EXPECT_EQ(b.u32(0x84), 5u + kS / 64);
    EXPECT_EQ(b.u8(0x80), 0);

    Buffer a(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(a.cb(), kS, 4), 0u);
    a.cb()->lock.lockWord = 0x80;
    EXPECT_EQ(ramboAutoDumpEnabled(a.cb(), false), 0u);
    EXPECT_EQ(a.u8(0xA6), 0);
    EXPECT_EQ(a.u8(0x80), 0x80) << "the latch was not touched";
}

TEST(RamboCircular, WrapsEveryNSlotsAndSkipsAStraddle)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 1), 0u);
    RamboReservation t;
    for (Uint32 i = 0; i < 3 * kN; ++i) ramboReserveOneSlot(b.cb(), &t);
    t = put(b.cb(), 52, 0x33);
    EXPECT_EQ(t.sequence, 3 * kN);
    EXPECT_EQ(t.sequence / kN, 3u) << "lap";
    EXPECT_EQ(indexOf(b, t), 0u);

    // Fill up to index N - 1, then a 2-slot record: slots N - 1 and 0 are given up and keep
    // their contents; the record lands at 1 and 2.
    for (Uint32 i = 1; i < kN - 1; ++i) put(b.cb(), 52, 0x44);
    memset(b.slot(kN - 1), 0x77, 64);
    const Uint32 before = b.cb()->nextSequence;
    ASSERT_EQ(before & (kN - 1), kN - 1);
    t = put(b.cb(), 60, 0x55);
    EXPECT_EQ(indexOf(b, t), 1u);
    EXPECT_EQ(t.slotCount, 2);
    EXPECT_EQ(t.sequence, before + 2);
    EXPECT_EQ(b.cb()->nextSequence, before + 4);
    EXPECT_EQ(b.slot(kN - 1)[0], 0x77);
    Uint32 seq;
    EXPECT_TRUE(isRecord(b.format(), b.slot(0), &seq));
    EXPECT_EQ(seq, 3 * kN) << "slot 0 keeps the record of the earlier lap";
    EXPECT_TRUE(isRecord(b.format(), b.slot(1), &seq));
    EXPECT_EQ(seq, before + 2);
}

TEST(RamboCircular, NewSequenceMovesTheStartALapAhead)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 1), 0u);
    for (int i = 0; i < 10; ++i) put(b.cb(), 52, 1);
    ASSERT_EQ(ramboNewSequence(b.cb()), 0u);
    EXPECT_EQ(b.cb()->nextSequence, 10 + kN);
    EXPECT_EQ(b.u32(0x84), 10 + kN);
    EXPECT_EQ(b.u8(0x80), 0);
    RamboReservation t = put(b.cb(), 52, 2);
    EXPECT_EQ(indexOf(b, t), 10u) << "the position in the buffer stays";
    EXPECT_EQ(t.sequence, 10 + kN);
}

TEST(RamboLinear, FullBufferGoesToScratchAndCallsBackEveryTime)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 2), 0u);
    Uint8* scratch = b.at(b.cb()->scratchOffset);
    g_fullCalls = 0;
    ramboSetCallBack(countFull);

    RamboReservation t;
    for (Uint32 i = 0; i < kN - 2; ++i) put(b.cb(), 52, 1);
    t = put(b.cb(), 60, 2);  // exactly the last two slots
    EXPECT_EQ(indexOf(b, t), kN - 2);
    EXPECT_EQ(g_fullCalls, 0);

    void* p = ramboReserveOneSlot(b.cb(), &t);  // the (N+1)-th slot
    EXPECT_EQ(p, scratch + 8);
    EXPECT_EQ(t.slot, scratch);
    EXPECT_EQ(t.slotCount, 1);
    EXPECT_EQ(t.chunk, nullptr);
    EXPECT_EQ(g_fullCalls, 1);
    ramboSync(b.cb(), &t);
    p = ramboReserveSlots(b.cb(), RAMBO_MAX_PAYLOAD, &t);  // the largest record fits scratch
    EXPECT_EQ(p, scratch + 8);
    memset(p, 0xEE, RAMBO_MAX_PAYLOAD);
    ramboSync(b.cb(), &t);
    EXPECT_EQ(g_fullCalls, 2);

    // Without a callback the buffer stays full.
    ramboSetCallBack(nullptr);
    EXPECT_EQ(ramboReserveOneSlot(b.cb(), &t), scratch + 8);
    EXPECT_EQ(g_fullCalls, 2);
}

// The N-th slot is the last one in the buffer; a record that does not fit whole goes to scratch.
TEST(RamboLinear, NthSlotLandsAndCrossingRecordDoesNot)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 2), 0u);
    g_fullCalls = 0;
    ramboSetCallBack(countFull);
    RamboReservation t;
    for (Uint32 i = 0; i < kN - 1; ++i) ramboReserveOneSlot(b.cb(), &t);
    t = put(b.cb(), 52, 1);
    EXPECT_EQ(indexOf(b, t), kN - 1);
    EXPECT_EQ(g_fullCalls, 0);
    ramboSetCallBack(nullptr);

    Buffer c(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(c.cb(), kS, 2), 0u);
    for (Uint32 i = 0; i < kN - 1; ++i) ramboReserveOneSlot(c.cb(), &t);
    EXPECT_EQ(ramboReserveSlots(c.cb(), 60, &t), c.at(c.cb()->scratchOffset) + 8);
}

// A full linear buffer keeps its records however far writers run past the end, and a new
// sequence starts it again empty at index 0.
TEST(RamboLinear, OverflowNeverOverwritesAndNewSequenceRestarts)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 2), 0u);
    Uint8* scratch = b.at(b.cb()->scratchOffset);
    for (Uint32 i = 0; i < kN; ++i) put(b.cb(), 52, 1);
    for (Uint32 i = 0; i < 3 * kN; ++i) {
        RamboReservation t;
        ASSERT_EQ(ramboReserveOneSlot(b.cb(), &t), scratch + 8) << i;
        ramboSync(b.cb(), &t);
    }
    for (Uint32 i = 0; i < kN; ++i) {
        Uint32 seq;
        ASSERT_TRUE(isRecord(b.format(), b.slot(i), &seq)) << i;
        ASSERT_EQ(seq, i);
    }

    ASSERT_EQ(ramboNewSequence(b.cb()), 0u);
    EXPECT_EQ(b.cb()->nextSequence, 6 * kN) << "next multiple of 2N above 4N";
    EXPECT_EQ(b.cb()->nextSequence % (2 * kN), 0u);
    RamboReservation t = put(b.cb(), 52, 2);
    EXPECT_EQ(indexOf(b, t), 0u);
    EXPECT_EQ(t.sequence, 6 * kN);

    // From a multiple of 2N the next one is strictly above.
    Buffer c(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(c.cb(), kS, 2), 0u);
    ASSERT_EQ(ramboNewSequence(c.cb()), 0u);
    EXPECT_EQ(c.cb()->nextSequence, 2 * kN);
    EXPECT_EQ(indexOf(c, put(c.cb(), 52, 3)), 0u);
}

TEST(RamboReserve, OversizePayloadTakesNoSlots)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 1), 0u);
    RamboReservation t;
    EXPECT_EQ(ramboReserveSlots(b.cb(), RAMBO_MAX_PAYLOAD + 1, &t),
              b.at(b.cb()->scratchOffset) + 8);
    EXPECT_EQ(ramboReserveSlots(b.cb(), 0xFFFFFFFF, &t), b.at(b.cb()->scratchOffset) + 8);
    EXPECT_EQ(b.cb()->nextSequence, 0u);
}

// On a sealed ring a caller fills memory of its own, and publication copies it into the
// record's slots: reservations held at the same time (small ones, which reuse memory kept for
// the thread, and large ones) each keep their bytes, whichever order and thread publish them,
// and nothing shows in the ring before publication.
TEST(RamboReserve, CallersFillMemoryOfTheirOwnThatPublicationCopies)
{
    for (const Uint32 mode : {RAMBO_MODE_CIRCULAR, RAMBO_MODE_AUTODUMP}) {
        SCOPED_TRACE(mode);
        Buffer b(ramboGetAllocSize(kS));
        ASSERT_EQ(ramboInitialize(b.cb(), kS, mode), 0u);
        ASSERT_EQ(b.format(), RAMBO_FORMAT_SEALED);
        const Uint32 sizes[] = {52, 0, 500, 501, 4000, RAMBO_MAX_PAYLOAD, 52};
        const Uint32 count = sizeof sizes / sizeof sizes[0];
        RamboReservation t[count];
        Uint8* p[count];
        for (Uint32 i = 0; i < count; ++i) {
            p[i] = static_cast<Uint8*>(sizes[i] == 52 ? ramboReserveOneSlot(b.cb(), &t[i])
                                                      : ramboReserveSlots(b.cb(), sizes[i], &t[i]));
            EXPECT_EQ(p[i], static_cast<Uint8*>(t[i].slot) + 8) << i;
            memset(p[i], 0xA0 + i, sizes[i]);
        }
        for (Uint32 i = 0; i < count; ++i) {
            EXPECT_FALSE(isRecord(b.format(), b.slot(t[i].sequence & (kN - 1)))) << i;
        }
        // Last reserved first; every other one from a thread that did not reserve it.
        for (Uint32 i = count; i-- > 0;) {
            if (i % 2) {
                std::thread([&] { ramboSync(b.cb(), &t[i]); }).join();
            } else {
                ramboSync(b.cb(), &t[i]);
            }
            const Uint8* slot = b.slot(t[i].sequence & (kN - 1));
            ASSERT_EQ(t[i].slot, slot) << i;
            Uint32 seq = 0, k = 0;
            ASSERT_TRUE(isRecord(b.format(), slot, &seq, &k)) << i;
            EXPECT_EQ(seq, t[i].sequence);
            Uint32 differing = 0;
            for (Uint32 j = 0; j < 64 * k - 12; ++j) {
                differing += slot[8 + j] != (j < sizes[i] ? 0xA0 + i : 0);
            }
            EXPECT_EQ(differing, 0u) << "payload, then zeros: record " << i;
        }
    }
}

TEST(RamboAutoDump, FillCountsSplitAcrossChunks)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 4), 0u);
    RamboChunk* chunks = reinterpret_cast<RamboChunk*>(b.at(0x100));
    RamboReservation t;
    for (Uint32 i = 0; i < 2046; ++i) put(b.cb(), 52, 1);
    t = put(b.cb(), 100, 2);  // slots 2046, 2047: the end of chunk 0
    EXPECT_EQ(t.chunk, &chunks[0]);
    EXPECT_EQ(t.firstChunkSlots, 2);
    EXPECT_EQ(chunks[0].filled, 2048u);
    EXPECT_EQ(chunks[1].filled, 0u);

    // The dumper drains chunk 0 while a record crosses from chunk 1 into chunk 2.
    chunks[0].filled = 0;
    chunks[0].lap = 1;
    for (Uint32 i = 0; i < 2047; ++i) put(b.cb(), 52, 3);
    t = put(b.cb(), 1000, 4);  // 16 slots from 4095
    EXPECT_EQ(t.chunk, &chunks[1]);
    EXPECT_EQ(t.firstChunkSlots, 1);
    EXPECT_EQ(t.slotCount, 16);
    EXPECT_EQ(chunks[1].filled, 2048u);
    EXPECT_EQ(chunks[2].filled, 15u);

    // Switched off: no counting, no waiting.
    ASSERT_EQ(ramboAutoDumpEnabled(b.cb(), false), 0u);
    put(b.cb(), 52, 5);
    EXPECT_EQ(chunks[2].filled, 15u);
}

// A record that would run over the end in auto-dump mode clears and counts the given-up slots
// in the last chunk (this lap) and in chunk 0 (next lap), then lands after them.
TEST(RamboAutoDump, StraddleClearsAndCountsHeadAndTail)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 4), 0u);
    RamboChunk* chunks = reinterpret_cast<RamboChunk*>(b.at(0x100));
    for (Uint32 i = 0; i < kN - 3; ++i) put(b.cb(), 52, 1);
    // Act as the dumper: chunks 0 to 2 are drained, so their next lap may be written.
    for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(chunks[c].filled, 2048u);
        chunks[c].filled = 0;
        chunks[c].lap = 1;
    }
    memset(b.slot(kN - 3), 0xEE, 3 * 64);
    memset(b.slot(0), 0xEE, 2 * 64);
    RamboReservation t = put(b.cb(), 200, 2);  // 4 slots at N - 3: head 3, tail 1
    EXPECT_EQ(t.sequence, kN + 1);
    EXPECT_EQ(indexOf(b, t), 1u);
    EXPECT_EQ(t.chunk, &chunks[0]);
    for (Uint32 i = kN - 3; i < kN; ++i) EXPECT_EQ(b.slot(i)[0] | b.slot(i)[63], 0) << i;
    EXPECT_EQ(b.slot(0)[0] | b.slot(0)[63], 0);
    EXPECT_EQ(chunks[3].filled, 2048u) << "2045 published + 3 given up";
    EXPECT_EQ(chunks[0].filled, 1u + 4u) << "1 given up + 4 published";
}

// A writer whose chunk is not drained yet waits, yielding, until the dumper moves the chunk to
// the writer's lap or switches auto-dump off.
TEST(RamboAutoDump, WriterWaitsForItsLapUntilDrainedOrSwitchedOff)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 4), 0u);
    RamboChunk* chunks = reinterpret_cast<RamboChunk*>(b.at(0x100));
    RamboChunkWalker walker;
    ASSERT_EQ(ramboInitializeChunkWalker(b.cb(), &walker), 0u);  // this process is the dumper
    for (Uint32 i = 0; i < kN; ++i) put(b.cb(), 52, 1);

    // Starts a writer of one record and returns once it waits for its chunk.
    std::atomic<bool> done{false};
    auto startWriter = [&] {
        done = false;
        g_yields = 0;
        std::thread w([&] {
            put(b.cb(), 52, 2);
            done = true;
        });
        while (g_yields.load() == 0 && !done.load()) Sleep(1);
        return w;
    };
    ossSetYieldCallbacks(countYield, nullptr);

    // Lap 1 wants chunk 0, still at lap 0: released when the dumper drains it.
    std::thread w = startWriter();
    EXPECT_FALSE(done.load());
    chunks[0].filled = 0;
    __atomic_fetch_add(&chunks[0].lap, 1, __ATOMIC_SEQ_CST);
    w.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(chunks[0].filled, 1u);

    // Lap 2 wants chunk 0, now at lap 1: released when auto-dump is switched off.
    b.cb()->nextSequence = 2 * kN;
    w = startWriter();
    EXPECT_FALSE(done.load());
    EXPECT_EQ(ramboAutoDumpEnabled(b.cb(), false), 0u);
    w.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(chunks[0].filled, 1u) << "not counted while off";
    ossSetYieldCallbacks(nullptr, nullptr);
}

// With no dumper registered, a writer whose chunk was not drained goes on around the ring and
// counts the slots it put there. A dumper that registers later starts at the writers' chunk,
// with the chunks before it handed to the next lap.
TEST(RamboAutoDump, WithoutADumperWritersGoOnAndADumperStartsWhereTheyAre)
{
    Buffer b(ramboGetAllocSize(kS));
    ASSERT_EQ(ramboInitialize(b.cb(), kS, 4), 0u);
    RamboChunk* chunks = reinterpret_cast<RamboChunk*>(b.at(0x100));
    for (Uint32 i = 0; i < kN + 3000; ++i) put(b.cb(), 52, 1);
    EXPECT_EQ(b.u32(RAMBO_UNDRAINED_SLOTS_OFFSET), 3000u);
    EXPECT_EQ(b.u32(RAMBO_DUMPER_PID_OFFSET), 0u);

    RamboChunkWalker walker;
    ASSERT_EQ(ramboInitializeChunkWalker(b.cb(), &walker), 0u);
    EXPECT_EQ(walker.chunkNumber, 1u) << "sequence kN + 3000 is in chunk 1 of lap 1";
    EXPECT_EQ(b.u32(RAMBO_DUMPER_PID_OFFSET), GetCurrentProcessId());
    EXPECT_EQ(chunks[0].lap, 2u);
    EXPECT_EQ(chunks[0].filled, 0u);
    EXPECT_EQ(chunks[1].lap, 1u);
    EXPECT_EQ(chunks[1].filled, 3000u - 2048u);
    for (Uint32 i = 2; i < 4; ++i) EXPECT_EQ(chunks[i].lap, 1u) << i;
    // The rest of lap 1 fills chunks 1 to 3 without waiting; each reaches a full count.
    for (Uint32 i = kN + 3000; i < 2 * kN; ++i) put(b.cb(), 52, 1);
    for (Uint32 i = 1; i < 4; ++i) EXPECT_EQ(chunks[i].filled, 2048u) << i;
    EXPECT_EQ(b.u32(RAMBO_UNDRAINED_SLOTS_OFFSET), 3000u);
}
