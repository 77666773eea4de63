// A writer lapped while it holds a reservation: it reserved its slot and was held up (here:
// parked on an event) while another writer went round the whole ring. A caller of the public
// reservation fills memory of its own, so its stores never reach the ring, and it drops its
// record when it publishes and finds the ring past its reservation. A trace point that passed
// its lap check just before it lost the processor does store into the slot, which now holds a
// newer, published record: the newer record's header and trailer survive such stores, and the
// ring's seal is what shows that its payload did not.
//
// The order of events is fixed by the test (the parked thread moves only when released, after
// the other writer has finished), so the outcome is the same on every run: a re-run cannot
// turn a failure into a pass.
#include <windows.h>

#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "dump_helpers.h"
#include "osse/rambo.h"
#include "osse_test.h"
#include "trace_fixture.h"

using namespace tracetest;

namespace {

class RamboLap : public TraceFixture {
protected:
    RamboControlBlock* ring() { return reinterpret_cast<RamboControlBlock*>(ringOf(cb())); }
    std::string path() { return dir_.file("lap.dmp"); }
    ossetest::TempDir dir_;
};

// What the parked writer stores.
constexpr Uint32 kParkedFill = 0xEEEEEEEEu;
constexpr Uint32 kFn = 0x081A0003u;
// The id an entry record carries in its first data word.
std::vector<Uint32> entryIds(const Parsed& p) {
    std::vector<Uint32> ids;
    for (const Bytes& r : p.records) ids.push_back(r.size() == 52 ? readAt<Uint32>(r.data(), 0x28) : 0xFFFFFFFF);
    return ids;
}

}  // namespace

TEST_F(RamboLap, ParkedWriterIsDroppedAndTheRecordItWroteOverIsReportedLost) {
    start(GTRACE_MODE_CIRCULAR);
    const Uint32 n = slotCount(cb());
    ASSERT_EQ(readAt<Uint32>(ring(), RAMBO_FORMAT_OFFSET), RAMBO_FORMAT_SEALED);

    HANDLE reserved = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE resume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(reserved && resume);
    RamboReservation parked{};
    Uint8* p = nullptr;
    bool released = false;
    std::thread writer([&] {
        p = static_cast<Uint8*>(ramboReserveOneSlot(ring(), &parked));
        SetEvent(reserved);
        released = WaitForSingleObject(resume, 60000) == WAIT_OBJECT_0;
        // Its stores, whether or not the ring came round meanwhile.
        for (Uint32 i = 0; i < RAMBO_ONE_SLOT_PAYLOAD; i += 4) memcpy(p + i, &kParkedFill, 4);
        ramboSync(ring(), &parked);
    });
    ASSERT_EQ(WaitForSingleObject(reserved, 60000), WAIT_OBJECT_0);
    // The caller fills memory of its own; the record's slot follows from its sequence.
    EXPECT_EQ(p, static_cast<Uint8*>(parked.slot) + 8);
    Uint8* const slot = reinterpret_cast<Uint8*>(ring()) + ring()->dataOffset +
                        ((parked.sequence & ring()->indexMask) << 6);
    EXPECT_NE(parked.slot, slot);

    // Another writer goes round the ring more than once with one-slot entry records carrying
    // ids 0 .. 2 (N + 50) - 1 in their first data word. One writer only: two could lap each
    // other when one of them loses its processor, and the drop count would tell of that too.
    const Uint32 perWriter = n + 50;
    std::thread a([&] { for (Uint32 i = 0; i < 2 * perWriter; ++i) _gtraceEntry(1, 0, kFn, i, 0); });
    a.join();
    const Uint32 newer = readAt<Uint32>(slot, 0);
    ASSERT_GT(newer - parked.sequence, n) << "the parked slot holds a record of a later lap";
    ASSERT_NE(ramboCheckRecord(slot, 1, RAMBO_FORMAT_SEALED), 0u);
    Uint8 before[64];
    memcpy(before, slot, 64);

    SetEvent(resume);
    writer.join();
    CloseHandle(reserved);
    CloseHandle(resume);
    ASSERT_TRUE(released);

    // Dropped and counted, and the newer record untouched.
    Uint32 drops = 0;
    ASSERT_EQ(ramboGetLappedDrops(ring(), &drops), 0u);
    EXPECT_EQ(drops, 1u);
    EXPECT_EQ(parked.slot, nullptr) << "the writer is told its record was dropped";
    EXPECT_EQ(memcmp(slot, before, 64), 0) << "a lapped caller's stores reach the ring";

    // The stores of a trace point that passed its lap check before it lost the processor: the
    // newer record's header and trailer are still there, its payload is not, and the reader's
    // test refuses it.
    for (Uint32 i = 8; i < 8 + RAMBO_ONE_SLOT_PAYLOAD; i += 4) memcpy(slot + i, &kParkedFill, 4);
    EXPECT_EQ(readAt<Uint32>(slot, 0), newer);
    EXPECT_EQ(ramboCheckRecord(slot, 1, RAMBO_FORMAT_SEALED), 0u);
    Uint32 plainTrailer = ~newer;
    EXPECT_NE(readAt<Uint32>(slot, 60), plainTrailer)
        << "a sealed record's trailer is not the plain one";

    // The dump reads the last lap: every record but the damaged one, each intact and once, and
    // the damaged one's slot counted lost where it fell.
    ASSERT_TRUE(writeBytes(path(), dumpOfBoundTrace()));
    const Parsed parsed = parseFile(path(), true);
    ASSERT_EQ(parsed.openRc, 0u);
    const std::vector<Uint32> ids = entryIds(parsed);
    EXPECT_EQ(ids.size(), n - 1);
    std::vector<Uint8> seen(2 * perWriter, 0);
    Uint32 bad = 0;
    for (Uint32 id : ids) {
        if (id >= seen.size() || seen[id]++) ++bad;
    }
    EXPECT_EQ(bad, 0u) << "records not written, or read twice";
    Uint32 lost = parsed.lostAfter;
    for (Uint32 l : parsed.lostBefore) lost += l;
    EXPECT_EQ(lost, 1u);
}

// A ring of the plain format (as formatted before records were sealed, or a linear ring) keeps
// the plain trailer, and its dumps still read as before; a head naming a format this reader
// does not know is refused.
TEST_F(RamboLap, PlainRingsKeepThePlainTrailerAndUnknownFormatsAreRefused) {
    start(GTRACE_MODE_CIRCULAR);
    const Uint32 plain = RAMBO_FORMAT_PLAIN;
    memcpy(reinterpret_cast<Uint8*>(ring()) + RAMBO_FORMAT_OFFSET, &plain, 4);
    for (Uint32 i = 0; i < 10; ++i) writeRecord(i, i * 20);
    const Slotted s = slotAt(cb(), 0);
    EXPECT_EQ(s.trailer, ~s.sequence);
    Bytes dump = dumpOfBoundTrace();
    ASSERT_FALSE(dump.empty());
    EXPECT_EQ(dump[GTRACE_DUMP_HEADER_SIZE + 15], RAMBO_FORMAT_PLAIN);
    ASSERT_TRUE(writeBytes(path(), dump));
    EXPECT_EQ(idsOf(parseFile(path(), true)), range(0, 10));

    dump[GTRACE_DUMP_HEADER_SIZE + 15] = 2;
    ASSERT_TRUE(writeBytes(path(), dump));
    EXPECT_EQ(parseFile(path(), true).openRc, ECF_RAMBO_INVALID_DUMP_TYPE);
}
