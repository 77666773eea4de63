// Trace ring buffer under real concurrency: writer threads and writer processes sharing one
// buffer through a named file mapping, each record stamped with its writer and number, then
// every stamp looked for in the buffer (or in the stream a test dumper drained).
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "osse/rambo.h"
#include "osse_test.h"

namespace {

// Layout of the shared mapping: a small start area, then the ring buffer at a page boundary.
struct StartArea {
    volatile LONG ready;  // writers waiting for the start signal
    volatile LONG go;     // set once every writer is ready
    volatile LONG done;   // writers finished
    volatile LONG dropped[16];  // per writer: records dropped because a newer writer lapped it
};
constexpr Uint32 kRingOffset = 4096;
constexpr Uint32 kFillerWriter = 0xFFFF;

Uint32 rd32(const Uint8* p) { Uint32 v; memcpy(&v, p, 4); return v; }
Uint16 rd16(const Uint8* p) { Uint16 v; memcpy(&v, p, 2); return v; }

// Payload length of record n of a writer: mostly 1 to 3 slots; with `big`, every 61st record
// spans 32 to 70 slots, so that records cross chunk boundaries and the end of the buffer.
Uint32 payloadLength(Uint32 writer, Uint32 n, bool big) {
    if (writer == kFillerWriter) return 52;
    if (big && n % 61 == 60) return 2000 + (n % 5) * 600;
    return 12 + (writer * 7 + n * 13) % 150;
}
Uint32 slotsOf(Uint32 payload) { return (payload + 12 + 63) / 64; }
Uint8 patternByte(Uint32 writer, Uint32 n, Uint32 i) {
    return static_cast<Uint8>(writer * 31 + n * 7 + i);
}

// False when the writer was lapped while it held the reservation and dropped the record.
bool writeRecord(RamboControlBlock* cb, Uint32 writer, Uint32 n, bool big) {
    const Uint32 len = payloadLength(writer, n, big);
    RamboReservation t;
    Uint8* p = static_cast<Uint8*>(ramboReserveSlots(cb, len, &t));
    memcpy(p, &writer, 4);
    memcpy(p + 4, &n, 4);
    memcpy(p + 8, &len, 4);
    for (Uint32 i = 12; i < len; ++i) p[i] = patternByte(writer, n, i);
    if (n % 17 == 0) SwitchToThread();  // keep some reservations open a while
    ramboSync(cb, &t);
    return t.slot != nullptr;
}

// Waits for the start signal, writes `count` records, reports done.
void runWriter(StartArea* area, RamboControlBlock* cb, Uint32 writer, Uint32 count, bool big) {
    InterlockedIncrement(&area->ready);
    while (InterlockedCompareExchange(&area->go, 0, 0) == 0) SwitchToThread();
    for (Uint32 n = 0; n < count; ++n) {
        if (!writeRecord(cb, writer, n, big) && writer < 16) InterlockedIncrement(&area->dropped[writer]);
    }
    InterlockedIncrement(&area->done);
}

// Checks the reader's acceptance rule at `slot` with `avail` slots readable from there, and
// the record's stamp; returns its slot count (0 when it is not a record) and its identity.
struct Found { Uint32 seq, k, writer, n; bool intact; };
Uint32 formatOf(const RamboControlBlock* cb) {
    return rd32(reinterpret_cast<const Uint8*>(cb) + RAMBO_FORMAT_OFFSET);
}
bool readRecord(Uint32 format, const Uint8* slot, Uint32 avail, bool big, Found* f) {
    const Uint32 k = rd16(slot + 6);
    if (rd16(slot + 4) != 0xCAFE || k < 1 || k > 2048 || k > avail) return false;
    const Uint32 seq = rd32(slot);
    if (ramboCheckRecord(slot, avail, format) != k) return false;
    const Uint8* p = slot + 8;
    f->seq = seq;
    f->k = k;
    f->writer = rd32(p);
    f->n = rd32(p + 4);
    const Uint32 len = rd32(p + 8);
    f->intact = len == payloadLength(f->writer, f->n, big) && slotsOf(len) == k;
    for (Uint32 i = 12; f->intact && i < len; ++i) {
        f->intact = p[i] == patternByte(f->writer, f->n, i);
    }
    return true;
}

// Every stamp expected exactly once.
class Ledger {
public:
    Ledger(Uint32 writers, Uint32 perWriter)
        : writers_(writers), perWriter_(perWriter), seen_(writers * perWriter, 0) {}
    void see(const Found& f) {
        if (!f.intact) { ++torn; return; }
        if (f.writer == kFillerWriter) { ++fillers; return; }
        if (f.writer >= writers_ || f.n >= perWriter_) { ++unknown; return; }
        ++seen_[f.writer * perWriter_ + f.n];
    }
    // With `all`, every stamp must have been seen; otherwise none more than once.
    void expectEachOnce(bool all = true) const {
        Uint32 missing = 0, doubled = 0;
        for (Uint32 c : seen_) {
            if (c == 0) ++missing;
            if (c > 1) ++doubled;
        }
        if (all) {
            EXPECT_EQ(missing, 0u);
        }
        EXPECT_EQ(doubled, 0u);
        EXPECT_EQ(torn, 0u);
        EXPECT_EQ(unknown, 0u);
    }
    Uint32 torn = 0, unknown = 0, fillers = 0;

private:
    Uint32 writers_, perWriter_;
    std::vector<Uint32> seen_;
};

// A pagefile-backed named mapping holding the start area and the ring buffer.
class SharedRing {
public:
    explicit SharedRing(Uint32 bufferSize) {
        static LONG counter = 0;
        name_ = "Local\\osse_rambo_test_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(InterlockedIncrement(&counter));
        const Uint32 size = kRingOffset + ramboGetAllocSize(bufferSize);
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                      name_.c_str());
        if (mapping_ != nullptr) base_ = MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    }
    ~SharedRing() {
        if (base_ != nullptr) UnmapViewOfFile(base_);
        if (mapping_ != nullptr) CloseHandle(mapping_);
    }
    bool ok() const { return base_ != nullptr; }
    const std::string& name() const { return name_; }
    StartArea* area() const { return static_cast<StartArea*>(base_); }
    RamboControlBlock* cb() const {
        return reinterpret_cast<RamboControlBlock*>(static_cast<Uint8*>(base_) + kRingOffset);
    }
    Uint8* data() const { return reinterpret_cast<Uint8*>(cb()) + cb()->dataOffset; }

private:
    std::string name_;
    HANDLE mapping_ = nullptr;
    void* base_ = nullptr;
};

// Starts `threads` writer threads (writer ids from 0) and `processes` writer processes (ids
// after the threads), gives the start signal once all are ready.
class Writers {
public:
    Writers(SharedRing& ring, Uint32 threads, Uint32 processes, Uint32 perWriter, bool big)
        : ring_(ring), total_(threads + processes) {
        for (Uint32 w = 0; w < threads; ++w) {
            threads_.emplace_back(runWriter, ring.area(), ring.cb(), w, perWriter, big);
        }
        for (Uint32 p = 0; p < processes; ++p) {
            children_.emplace_back(new ossetest::Child);
            started_ &= children_.back()->start(
                "rambo_writer", {ring.name(), std::to_string(threads + p),
                                 std::to_string(perWriter), big ? "1" : "0"});
        }
    }
    ~Writers() {
        // On an early exit nobody may be left waiting: for the start signal or for a dumper.
        InterlockedExchange(&ring_.area()->go, 1);
        ramboAutoDumpEnabled(ring_.cb(), false);
        for (auto& t : threads_) if (t.joinable()) t.join();
        for (auto* c : children_) delete c;
    }
    // Waits until every writer is ready, then lets them all go.
    bool go(DWORD timeoutMs = 60000) {
        const DWORD start = GetTickCount();
        while (InterlockedCompareExchange(&ring_.area()->ready, 0, 0) != LONG(total_)) {
            if (!started_ || GetTickCount() - start > timeoutMs) return false;
            Sleep(1);
        }
        InterlockedExchange(&ring_.area()->go, 1);
        return true;
    }
    // Waits until all writers are done; false on timeout.
    bool waitDone(DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        while (InterlockedCompareExchange(&ring_.area()->done, 0, 0) != LONG(total_)) {
            if (GetTickCount() - start > timeoutMs) return false;
            Sleep(1);
        }
        return true;
    }
    // Joins the threads and collects the exit codes of the processes (0 each).
    void join() {
        for (auto& t : threads_) t.join();
        for (auto* c : children_) EXPECT_EQ(c->wait(), 0);
    }
    bool started() const { return started_; }

private:
    SharedRing& ring_;
    Uint32 total_;
    bool started_ = true;
    std::vector<std::thread> threads_;
    std::vector<ossetest::Child*> children_;
};

// Drains chunks in auto-dump mode the way a dumper must: wait until a chunk's filled count is
// 2048, copy it, set filled to 0, move its lap on; chunks in index order, wrapping.
class TestDumper {
public:
    explicit TestDumper(RamboControlBlock* cb) {
        EXPECT_EQ(ramboInitializeChunkWalker(cb, &walker_), 0u);
        chunkCount_ = cb->chunkCount;
        thread_ = std::thread([this] { run(); });
    }
    ~TestDumper() { stop(); }
    // Drain exactly this many chunks in all, then stop.
    void finishAfter(Uint32 chunks) { target_ = chunks; }
    void stop() {
        abort_ = true;
        if (thread_.joinable()) thread_.join();
    }
    void join() { if (thread_.joinable()) thread_.join(); }
    const std::vector<Uint8>& stream() const { return stream_; }
    Uint32 overfilled() const { return overfilled_; }

private:
    void run() {
        Uint32 drained = 0;
        while (drained != target_.load()) {
            if (abort_) return;
            RamboChunk* chunk = walker_.chunk0 + walker_.chunkNumber;
            const Uint32 filled = __atomic_load_n(&chunk->filled, __ATOMIC_ACQUIRE);
            if (filled > RAMBO_SLOTS_PER_CHUNK) ++overfilled_;
            if (filled < RAMBO_SLOTS_PER_CHUNK) {
                SwitchToThread();
                continue;
            }
            const Uint8* from =
                static_cast<Uint8*>(walker_.slot0) + walker_.chunkNumber * RAMBO_CHUNK_SIZE;
            stream_.insert(stream_.end(), from, from + RAMBO_CHUNK_SIZE);
            __atomic_store_n(&chunk->filled, 0, __ATOMIC_RELEASE);
            __atomic_fetch_add(&chunk->lap, 1, __ATOMIC_SEQ_CST);
            walker_.chunkNumber = (walker_.chunkNumber + 1) % chunkCount_;
            ++drained;
        }
    }

    RamboChunkWalker walker_{};
    Uint32 chunkCount_ = 0;
    std::atomic<Uint32> target_{0xFFFFFFFF};
    std::atomic<bool> abort_{false};
    Uint32 overfilled_ = 0;
    std::vector<Uint8> stream_;
    std::thread thread_;
};

}  // namespace

OSSE_CHILD_ROLE(rambo_writer)
{
    if (args.size() != 4) return 10;
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, args[0].c_str());
    if (mapping == nullptr) return 11;
    void* base = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (base == nullptr) return 12;
    auto* cb = reinterpret_cast<RamboControlBlock*>(static_cast<Uint8*>(base) + kRingOffset);
    runWriter(static_cast<StartArea*>(base), cb, std::stoul(args[1]), std::stoul(args[2]),
              args[3] == "1");
    UnmapViewOfFile(base);
    CloseHandle(mapping);
    return 0;
}

// Threads and processes fill one buffer at the same time; sized so that it neither wraps nor
// overflows, every record must be found exactly once, intact, at the index of its sequence,
// and the slots handed out must add up exactly.
TEST(RamboConcurrency, WritersInThreadsAndProcessesNeverOverlap)
{
    const Uint32 S = 0x100000, N = S / 64;
    const Uint32 threads = 3, processes = 2, perWriter = 1200;
    Uint32 expectedSlots = 0;
    for (Uint32 w = 0; w < threads + processes; ++w) {
        for (Uint32 n = 0; n < perWriter; ++n) expectedSlots += slotsOf(payloadLength(w, n, false));
    }
    ASSERT_LE(expectedSlots, N) << "the test must not fill the buffer";

    for (Uint32 mode : {RAMBO_MODE_LINEAR, RAMBO_MODE_CIRCULAR}) {
        SCOPED_TRACE(mode);
        SharedRing ring(S);
        ASSERT_TRUE(ring.ok());
        ASSERT_EQ(ramboInitialize(ring.cb(), S, mode), 0u);
        Writers writers(ring, threads, processes, perWriter, false);
        ASSERT_TRUE(writers.go());
        writers.join();

        EXPECT_EQ(ring.cb()->nextSequence, expectedSlots);
        Ledger ledger(threads + processes, perWriter);
        Uint32 records = 0, misplaced = 0, empty = 0;
        for (Uint32 i = 0; i < N;) {
            Found f;
            if (readRecord(formatOf(ring.cb()), ring.data() + 64 * i, N - i, false, &f)) {
                misplaced += (f.seq & ring.cb()->indexMask) != i;
                ledger.see(f);
                ++records;
                i += f.k;
            } else {
                empty += i < expectedSlots;  // handed out, yet no record starts here
                ++i;
            }
        }
        EXPECT_EQ(records, (threads + processes) * perWriter);
        EXPECT_EQ(misplaced, 0u);
        EXPECT_EQ(empty, 0u);
        ledger.expectEachOnce();
    }
}

// Writer threads and writer processes go round a small circular ring many times; every 17th
// writer call gives up the processor between its stores and its publication, so that with more
// writers than processors some are lapped while they hold their reservation. A reader copies the
// live ring over and over meanwhile: no record that the reader's test accepts, during the run
// or after it, may be damaged, and no whole record may show twice.
TEST(RamboConcurrency, LappedWritersInACircularRingNeverYieldATornRecord)
{
    const Uint32 S = 0x80000, N = S / 64;
    const Uint32 threads = 4, processes = 8, perWriter = 12000;
    SharedRing ring(S);
    ASSERT_TRUE(ring.ok());
    ASSERT_EQ(ramboInitialize(ring.cb(), S, RAMBO_MODE_CIRCULAR), 0u);
    const Uint32 format = formatOf(ring.cb());
    ASSERT_EQ(format, RAMBO_FORMAT_SEALED);

    std::vector<Uint8> image(S);
    Uint32 passes = 0, accepted = 0, torn = 0;
    auto scan = [&](const Uint8* data, Ledger* ledger) {
        for (Uint32 i = 0; i < N;) {
            Found f;
            if (!readRecord(format, data + 64 * i, N - i, false, &f)) {
                ++i;
                continue;
            }
            ++accepted;
            if (!f.intact) ++torn;
            if (ledger) ledger->see(f);
            i += f.k;
        }
    };
    {
        Writers writers(ring, threads, processes, perWriter, false);
        ASSERT_TRUE(writers.go());
        const DWORD start = GetTickCount();
        do {
            memcpy(image.data(), ring.data(), S);
            scan(image.data(), nullptr);
            ++passes;
        } while (InterlockedCompareExchange(&ring.area()->done, 0, 0) != LONG(threads + processes) &&
                 GetTickCount() - start < 90000);
        writers.join();
    }
    EXPECT_EQ(torn, 0u) << "of " << accepted << " records accepted in " << passes << " passes";
    Ledger ledger(threads + processes, perWriter);
    scan(ring.data(), &ledger);
    ledger.expectEachOnce(false);

    // Every drop is one a writer knows of: the ring's count is the sum of the writers' own.
    Uint32 drops = 0, writersDropped = 0;
    ASSERT_EQ(ramboGetLappedDrops(ring.cb(), &drops), 0u);
    for (Uint32 w = 0; w < threads + processes; ++w) writersDropped += ring.area()->dropped[w];
    EXPECT_EQ(writersDropped, drops);
    const Uint32 slots = ring.cb()->nextSequence;
    EXPECT_GT(slots / N, 10u) << "the writers should go round the ring many times";
    ::testing::Test::RecordProperty("laps", std::to_string(slots / N));
    ::testing::Test::RecordProperty("lapped_drops", std::to_string(drops));
    ::testing::Test::RecordProperty("reader_passes", std::to_string(passes));
    printf("laps %u, reader passes %u, records accepted %u, dropped by lapped writers %u\n",
           slots / N, passes, accepted, drops);
}

namespace {

std::atomic<Uint32> g_fullCalls{0};
Uint32 countFullBuffer() { ++g_fullCalls; return 0; }

}  // namespace

// Writer threads run a linear buffer past its end: every reservation either lands whole in the
// buffer or calls the full-buffer callback and goes to scratch, and the writers meeting in
// scratch leave the records in the buffer intact.
TEST(RamboConcurrency, LinearOverflowKeepsTheBufferIntact)
{
    const Uint32 S = 0x80000, N = S / 64;
    const Uint32 threads = 4, perWriter = 1300;
    Uint32 expectedSlots = 0;
    for (Uint32 w = 0; w < threads; ++w) {
        for (Uint32 n = 0; n < perWriter; ++n) expectedSlots += slotsOf(payloadLength(w, n, true));
    }
    ASSERT_GT(expectedSlots, N);
    ASSERT_LT(expectedSlots, 2 * N);

    SharedRing ring(S);
    ASSERT_TRUE(ring.ok());
    ASSERT_EQ(ramboInitialize(ring.cb(), S, RAMBO_MODE_LINEAR), 0u);
    g_fullCalls = 0;
    ramboSetCallBack(countFullBuffer);
    {
        Writers writers(ring, threads, 0, perWriter, true);
        ASSERT_TRUE(writers.go());
        writers.join();
    }
    ramboSetCallBack(nullptr);

    EXPECT_EQ(ring.cb()->nextSequence, expectedSlots);
    Ledger ledger(threads, perWriter);
    Uint32 records = 0, misplaced = 0;
    for (Uint32 i = 0; i < N;) {
        Found f;
        if (readRecord(formatOf(ring.cb()), ring.data() + 64 * i, N - i, true, &f)) {
            misplaced += f.seq != i;
            ledger.see(f);
            ++records;
            i += f.k;
        } else {
            ++i;
        }
    }
    EXPECT_EQ(misplaced, 0u);
    EXPECT_EQ(records + g_fullCalls.load(), threads * perWriter);
    EXPECT_GT(g_fullCalls.load(), 0u);
    ledger.expectEachOnce(false);
}

namespace {

// Auto-dump mode: writers (threads, and a process when asked) run several laps while a dumper
// drains chunk by chunk; then filler records complete the last lap so that every chunk gets
// drained. In the drained stream, stream slot p holds sequence start + p, every record is found
// exactly once and intact, and every other slot is a cleared slot given up at the buffer's end.
void runAutoDump(Uint32 startSeq, Uint32 threads, Uint32 processes, Uint32 perWriter)
{
    const Uint32 S = 0x80000, N = S / 64;
    SharedRing ring(S);
    ASSERT_TRUE(ring.ok());
    RamboControlBlock* cb = ring.cb();
    ASSERT_EQ(ramboInitialize(cb, S, RAMBO_MODE_AUTODUMP), 0u);
    // Start at a lap boundary, as if a dumper had drained everything before it.
    ASSERT_EQ(startSeq % N, 0u);
    cb->nextSequence = startSeq;
    RamboChunk* chunks = reinterpret_cast<RamboChunk*>(reinterpret_cast<Uint8*>(cb) + 0x100);
    for (Uint32 c = 0; c < cb->chunkCount; ++c) chunks[c].lap = startSeq / N;

    TestDumper dumper(cb);
    Writers writers(ring, threads, processes, perWriter, true);
    ASSERT_TRUE(writers.go());
    if (!writers.waitDone(90000)) {
        ramboAutoDumpEnabled(cb, false);  // release whoever is stuck before failing
        dumper.stop();
        writers.join();
        FAIL() << "writers did not finish";
    }
    writers.join();

    // Complete the last lap with one-slot records, then let the dumper take the rest.
    Uint32 fillers = 0;
    while (cb->nextSequence % N != 0) {
        writeRecord(cb, kFillerWriter, fillers++, false);
    }
    const Uint32 slots = cb->nextSequence - startSeq;
    dumper.finishAfter(slots / RAMBO_SLOTS_PER_CHUNK);
    dumper.join();
    EXPECT_EQ(dumper.overfilled(), 0u) << "a filled count ran past 2048";
    for (Uint32 c = 0; c < cb->chunkCount; ++c) {
        EXPECT_EQ(chunks[c].filled, 0u);
        EXPECT_EQ(chunks[c].lap - startSeq / N, slots / N) << c;
    }

    const std::vector<Uint8>& stream = dumper.stream();
    ASSERT_EQ(stream.size(), static_cast<size_t>(slots) * 64);
    EXPECT_GT(slots / N, 2u) << "the test should run several laps";
    Ledger ledger(threads + processes, perWriter);
    Uint32 records = 0, cleared = 0, stray = 0;
    for (Uint32 p = 0; p < slots;) {
        Found f;
        const Uint8* slot = stream.data() + 64 * static_cast<size_t>(p);
        if (readRecord(formatOf(cb), slot, slots - p, true, &f)) {
            ASSERT_EQ(f.seq, startSeq + p) << "record out of place at stream slot " << p;
            ledger.see(f);
            ++records;
            p += f.k;
            continue;
        }
        bool zero = true;
        for (int i = 0; i < 64; ++i) zero = zero && slot[i] == 0;
        ++(zero ? cleared : stray);
        ++p;
    }
    EXPECT_EQ(stray, 0u) << "slots that are neither records nor cleared";
    EXPECT_EQ(records, (threads + processes) * perWriter + fillers);
    EXPECT_EQ(ledger.fillers, fillers);
    ledger.expectEachOnce();
}

}  // namespace

TEST(RamboConcurrency, AutoDumpDrainsEveryRecordFromThreadsAndAProcess)
{
    runAutoDump(0, 2, 1, 4000);
}

// The 32-bit sequence wraps through 0 while the chunks' lap counters keep counting on.
TEST(RamboConcurrency, AutoDumpCarriesOnAcrossTheSequenceWrap)
{
    runAutoDump(0u - 2 * (0x80000 / 64), 2, 0, 4000);
}
