// A reader scanning the ring buffer while writer threads and a writer process are still filling
// it: every record it accepts must be whole. The payloads carry a checksum, so a record accepted
// before its writer finished (or one whose slots were handed out twice) shows as a mismatch.
#include <windows.h>

#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "osse/rambo.h"
#include "osse_test.h"

namespace {

struct Shared {
    volatile LONG ready;
    volatile LONG go;
    volatile LONG done;
    volatile LONG scans;    // passes the reader finished
    volatile LONG arrived;  // writers at the end of their current round, over all rounds
    volatile LONG stop;     // a writer did not start: the others give up
};
constexpr Uint32 kRingAt = 4096;
constexpr Uint32 kBufferSize = 0x80000;  // 8192 slots: the writers wrap it many times
constexpr Uint32 kPerWriter = 12000;
constexpr Uint32 kWriters = 3;
// Records a writer writes per round. The writers meet between rounds, so that the slots of one
// round (at most 3 x 600 x 4 of the 8192) are never handed out twice while a writer of that
// round is still filling its own: a writer that a whole lap of other writers overtakes would
// overwrite newer records, which is the circular buffer's nature and not what this test is about.
constexpr Uint32 kPerRound = 600;

Uint32 rd32(const volatile Uint8* p)
{
    Uint32 v;
    memcpy(&v, const_cast<const Uint8*>(p), 4);
    return v;
}

// Record n of a writer: 16 bytes of stamp (writer, n, length, checksum), then bytes that depend
// on all three, 1 to 4 slots in all.
Uint32 lengthOf(Uint32 writer, Uint32 n) { return 16 + (writer * 41 + n * 29) % 230; }
Uint8 byteOf(Uint32 writer, Uint32 n, Uint32 i) { return (Uint8)(writer * 131 + n * 17 + i * 7); }
Uint32 checksum(const Uint8* p, Uint32 length)
{
    Uint32 h = 2166136261u;
    for (Uint32 i = 16; i < length; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

void writeRecords(Shared* shared, RamboControlBlock* cb, Uint32 writer)
{
    InterlockedIncrement(&shared->ready);
    while (InterlockedCompareExchange(&shared->go, 0, 0) == 0) SwitchToThread();
    for (Uint32 n = 0; n < kPerWriter && !shared->stop; ++n) {
        if (n % kPerRound == 0 && n != 0) {
            const LONG round = (LONG)(n / kPerRound);
            InterlockedIncrement(&shared->arrived);
            const DWORD start = GetTickCount();
            while (InterlockedCompareExchange(&shared->arrived, 0, 0) < round * (LONG)kWriters &&
                   GetTickCount() - start < 60000)
                SwitchToThread();
        }
        if (n == kPerWriter / 2) {
            // Halfway, each writer lets the reader finish a few passes, so that passes surely
            // run while records are being written whatever the speed of the machine.
            const DWORD start = GetTickCount();
            while (InterlockedCompareExchange(&shared->scans, 0, 0) < 3 && GetTickCount() - start < 60000)
                SwitchToThread();
        }
        const Uint32 len = lengthOf(writer, n);
        RamboReservation t;
        Uint8* p = static_cast<Uint8*>(ramboReserveSlots(cb, len, &t));
        // The payload is written in two halves with a pause between them now and then, so that
        // the reader meets records that are reserved and half written.
        const Uint32 half = 16 + (len - 16) / 2;
        for (Uint32 i = 16; i < half; ++i) p[i] = byteOf(writer, n, i);
        if (n % 13 == 0) SwitchToThread();
        for (Uint32 i = half; i < len; ++i) p[i] = byteOf(writer, n, i);
        const Uint32 stamp[4] = {writer, n, len, checksum(p, len)};
        memcpy(p, stamp, sizeof stamp);
        ramboSync(cb, &t);
    }
    InterlockedIncrement(&shared->done);
}

struct Scan {
    Uint32 accepted = 0, torn = 0;
};

// One pass over the data area with the reader's rule: the marker, a slot count within the
// buffer, the trailer equal to the complement of the sequence; then the payload is copied and
// the record is taken only when no later reservation has reached its slots meanwhile (the next
// sequence is still within one lap of it) and its header still says the same.
void scanOnce(RamboControlBlock* cb, Scan* s)
{
    const Uint32 N = cb->slotCount;
    const volatile Uint8* data = reinterpret_cast<volatile Uint8*>(cb) + cb->dataOffset;
    static Uint8 copy[4 * 64];
    for (Uint32 i = 0; i < N; ++i) {
        const volatile Uint8* slot = data + 64u * i;
        const Uint32 word = __atomic_load_n(reinterpret_cast<const volatile Uint32*>(slot + 4), __ATOMIC_ACQUIRE);
        const Uint32 k = word >> 16;
        if ((word & 0xFFFF) != 0xCAFE || k < 1 || k > 4 || i + k > N) continue;
        const Uint32 seq = __atomic_load_n(reinterpret_cast<const volatile Uint32*>(slot), __ATOMIC_ACQUIRE);
        for (Uint32 b = 0; b < 64u * k; ++b) copy[b] = slot[b];
        // The reader's test on the copy: marker, trailer and (in a sealed ring) the seal.
        if (ramboCheckRecord(copy, k, rd32(reinterpret_cast<const Uint8*>(cb) + RAMBO_FORMAT_OFFSET)) != k) continue;
        __atomic_thread_fence(__ATOMIC_ACQUIRE);
        const Uint32 next = __atomic_load_n(&cb->nextSequence, __ATOMIC_ACQUIRE);
        if (next - seq > N) continue;  // its slots were handed out again: no longer its own
        if (rd32(slot) != seq || rd32(slot + 4) != word) continue;
        ++s->accepted;
        const Uint8* p = copy + 8;
        const Uint32 writer = rd32(p), n = rd32(p + 4), len = rd32(p + 8);
        const bool whole = writer < kWriters && n < kPerWriter && len == lengthOf(writer, n) &&
                           (len + 12 + 63) / 64 == k && rd32(p + 12) == checksum(p, len);
        if (!whole) ++s->torn;
        i += k - 1;
    }
}

class SharedRing {
public:
    SharedRing()
    {
        name_ = "Local\\osse_rambo_scan_" + std::to_string(GetCurrentProcessId());
        const Uint32 size = kRingAt + ramboGetAllocSize(kBufferSize);
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name_.c_str());
        if (mapping_) base_ = MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    }
    ~SharedRing()
    {
        if (base_) UnmapViewOfFile(base_);
        if (mapping_) CloseHandle(mapping_);
    }
    bool ok() const { return base_ != nullptr; }
    const std::string& name() const { return name_; }
    Shared* shared() const { return static_cast<Shared*>(base_); }
    RamboControlBlock* cb() const
    {
        return reinterpret_cast<RamboControlBlock*>(static_cast<Uint8*>(base_) + kRingAt);
    }

private:
    std::string name_;
    HANDLE mapping_ = nullptr;
    void* base_ = nullptr;
};

}  // namespace

OSSE_CHILD_ROLE(rambo_scan_writer)
{
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, args.at(0).c_str());
    if (!mapping) return 11;
    void* base = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!base) return 12;
    writeRecords(static_cast<Shared*>(base),
                 reinterpret_cast<RamboControlBlock*>(static_cast<Uint8*>(base) + kRingAt), 2);
    UnmapViewOfFile(base);
    CloseHandle(mapping);
    return 0;
}

TEST(RamboScan, ReaderDuringTheWritesAcceptsOnlyWholeRecords)
{
    SharedRing ring;
    ASSERT_TRUE(ring.ok());
    ASSERT_EQ(ramboInitialize(ring.cb(), kBufferSize, RAMBO_MODE_CIRCULAR), 0u);
    ossetest::Child child;
    ASSERT_TRUE(child.start("rambo_scan_writer", {ring.name()}));
    std::thread a(writeRecords, ring.shared(), ring.cb(), 0);
    std::thread b(writeRecords, ring.shared(), ring.cb(), 1);
    const DWORD start = GetTickCount();
    while (InterlockedCompareExchange(&ring.shared()->ready, 0, 0) != (LONG)kWriters &&
           GetTickCount() - start < 60000)
        SwitchToThread();
    const bool allReady = InterlockedCompareExchange(&ring.shared()->ready, 0, 0) == (LONG)kWriters;
    if (!allReady) InterlockedExchange(&ring.shared()->stop, 1);
    InterlockedExchange(&ring.shared()->go, 1);

    Scan during, after;
    Uint32 scans = 0;
    while (InterlockedCompareExchange(&ring.shared()->done, 0, 0) != (LONG)kWriters &&
           GetTickCount() - start < 60000) {
        scanOnce(ring.cb(), &during);
        ++scans;
        InterlockedIncrement(&ring.shared()->scans);
    }
    a.join();
    b.join();
    EXPECT_EQ(child.wait(), 0);
    ASSERT_TRUE(allReady) << "the writer process did not start";
    scanOnce(ring.cb(), &after);

    EXPECT_EQ(during.torn, 0u) << "of " << during.accepted << " records accepted in " << scans
                               << " scans during the writes";
    EXPECT_EQ(after.torn, 0u);
    EXPECT_GT(after.accepted, 0u);
    EXPECT_GT(scans, 0u);
}
