// Trace dumps written from a live trace and read back through the parsers: every kind of buffer,
// both directions, sequences, validation codes, and damaged files.
#include "dump_helpers.h"
#include "trace_fixture.h"

#include "osse_test.h"

#include <algorithm>
#include <map>
#include <set>

using namespace tracetest;

namespace {

class TraceDump : public TraceFixture {
protected:
    std::string save(const Bytes& b, const char* name = "t.dmp") {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(writeBytes(path, b));
        saveSeed(b);
        return path;
    }
    // With OSSE_FUZZ_SEED_DIR set, the dump also goes there as a seed of the fuzz target: the
    // bare ring dump, an instantaneous one cut to its used slots and tail (the target pads the
    // data area out again).
    void saveSeed(const Bytes& b) {
        const char* dir = getenv("OSSE_FUZZ_SEED_DIR");
        if (!dir || b.size() < GTRACE_DUMP_HEADER_BUFFER_SIZE) return;
        Bytes ring(b.begin() + GTRACE_DUMP_HEADER_SIZE, b.end());
        RamboDumpHead head;
        memcpy(&head, ring.data(), sizeof head);
        if (head.kind == RAMBO_DUMP_KIND_INSTANT && ring.size() > 16 + 32 + 0x4000) {
            Bytes cut(ring.begin(), ring.begin() + 16 + 0x4000);
            cut.insert(cut.end(), ring.end() - 32, ring.end());
            ring.swap(cut);
        }
        static int n = 0;
        writeBytes(std::string(dir) + "\\seed-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                       "-" + std::to_string(n++),
                   ring);
    }
    // Parses both ways; checks that backwards gives the same records, newest first.
    std::vector<Uint32> roundTrip(const std::string& path, Parsed* fwdOut = nullptr) {
        Parsed fwd = parseFile(path, true);
        Parsed back = parseFile(path, false);
        EXPECT_EQ(fwd.openRc, 0u);
        EXPECT_EQ(back.openRc, 0u);
        std::vector<Uint32> f = idsOf(fwd), b = idsOf(back);
        std::reverse(b.begin(), b.end());
        EXPECT_EQ(f, b) << "backwards returns the same records in reverse order";
        EXPECT_FALSE(fwd.anyLost() || back.anyLost()) << "no record is missing";
        for (bool forward : {true, false}) {
            const Parsed& copied = forward ? fwd : back;
            const Parsed batched = parseFile(path, forward, Via::Batch);
            EXPECT_TRUE(batched.records == copied.records && batched.lostBefore == copied.lostBefore &&
                        batched.lostAfter == copied.lostAfter)
                << "batches in place hand out the same records, forward " << forward;
        }
        if (fwdOut) *fwdOut = fwd;
        return f;
    }
    ossetest::TempDir dir_;
};

constexpr Uint32 kSlots = 0x80000 / 64;  // N of the fixture's 512 KiB buffer
constexpr Uint32 kPerRecord = 2;         // slots of writeRecord(id) without filler

}  // namespace

TEST_F(TraceDump, LinearDumpReadsBackEveryRecordWithItsBytes) {
    start(GTRACE_MODE_LINEAR);
    for (Uint32 i = 0; i < 300; ++i) writeRecord(i, (i * 37) % 900);
    Parsed fwd;
    EXPECT_EQ(roundTrip(save(dumpOfBoundTrace()), &fwd), range(0, 300));
    EXPECT_FALSE(fwd.truncated);
    EXPECT_FALSE(fwd.wrapped);
    // Record 5's head and its second item come back as written.
    GTraceRecord head;
    memcpy(&head, fwd.records[5].data(), sizeof head);
    EXPECT_EQ(head.functionId, 0x081A0003u);
    EXPECT_EQ(head.recordType, GTRACE_TYPE_DATA);
    EXPECT_EQ(head.probe, 5u);
    EXPECT_EQ(head.processId, 77u);
    GTraceItemWalk w;
    ASSERT_TRUE(gtraceRecordItemsBegin(fwd.records[5].data(), (Uint32)fwd.records[5].size(), &w));
    EXPECT_EQ(w.count, 2u);
    Uint32 kind, size, present;
    const void* bytes;
    ASSERT_TRUE(gtraceRecordItemsNext(&w, &kind, &size, &bytes, &present));
    ASSERT_TRUE(gtraceRecordItemsNext(&w, &kind, &size, &bytes, &present));
    EXPECT_EQ(size, 5u * 37u);
    EXPECT_EQ(present, size);
    EXPECT_FALSE(gtraceRecordItemsNext(&w, &kind, &size, &bytes, &present));
}

TEST_F(TraceDump, CircularDumpHoldsTheNewestLapOldestFirst) {
    start(GTRACE_MODE_CIRCULAR);
    const Uint32 written = kSlots / kPerRecord + 904;
    for (Uint32 i = 0; i < written; ++i) writeRecord(i);
    Parsed fwd;
    EXPECT_EQ(roundTrip(save(dumpOfBoundTrace()), &fwd), range(904, written));
    EXPECT_TRUE(fwd.wrapped);
}

// The wrapping-dump marker concerns stream dumps only: an instantaneous dump's tail says where
// its oldest slot is, with the marker set or not. Records of many sizes leave slots of earlier
// laps behind (where a record did not fit before the end of the ring), so the sequence seen in
// slot order drops here and there.
TEST_F(TraceDump, InstantaneousDumpWithTheWrappingMarkerReadsInOrder) {
    const struct {
        Uint32 mode, written;
    } cases[] = {{GTRACE_MODE_CIRCULAR, 3000}, {GTRACE_MODE_LINEAR, 300}};
    for (const auto& c : cases) {
        start(c.mode);
        for (Uint32 i = 0; i < c.written; ++i) writeRecord(i, (i * 131) % 2000);
        Bytes b = dumpOfBoundTrace();
        const std::vector<Uint32> plain = roundTrip(save(b, "plain.dmp"));
        ASSERT_FALSE(plain.empty());
        EXPECT_EQ(plain.back(), c.written - 1);
        EXPECT_EQ(plain, range(plain.front(), c.written));
        reinterpret_cast<GTraceDumpHeader*>(b.data())->options.wrappingDumpMarker = 1;
        EXPECT_EQ(roundTrip(save(b)), plain) << c.mode;
        gtraceDetach();
        VirtualFree(mem_, 0, MEM_RELEASE);
        mem_ = nullptr;
    }
}

// A caller that sizes the parser as the dump format gives it (natural alignment on each
// architecture) is not written past, and the plain calls read the same records, in both
// directions and in batches, as the companion that also counts missing records.
TEST_F(TraceDump, PlainParserStaysInItsSizeAndReadsWhatTheCompanionReads) {
    constexpr size_t kPartSize = OSSE_PTR32 ? 80 : 88;  // u32 kind, padding, the ring parser
    start(GTRACE_MODE_CIRCULAR);
    for (Uint32 i = 0; i < kSlots / kPerRecord + 904; ++i) writeRecord(i, i % 5 ? 0 : 300);
    const std::string path = save(dumpOfBoundTrace());
    for (bool forward : {true, false}) {
        for (Via via : {Via::Copy, Via::Batch}) {
            std::vector<Uint8> memory(kPartSize + 64, 0xA5);
            GTraceDumpParser* p = reinterpret_cast<GTraceDumpParser*>(memory.data());
            OSSHFile f;
            ASSERT_TRUE(openRead(f, path));
            ASSERT_EQ(gtraceOpenDumpFileParser(&f, p, forward), 0u);
            std::vector<Bytes> records;
            static Uint8 buf[RAMBO_MAX_PAYLOAD];
            GTraceRecordView views[3];
            for (;;) {
                if (via == Via::Copy) {
                    const Uint32 n = gtraceParseRecords(&f, p, nullptr, buf, sizeof buf);
                    if (n == 0) break;
                    records.emplace_back(buf, buf + n);
                } else {
                    const Uint32 n = gtraceParseRecordBatch(&f, p, views, 3);
                    if (n == 0) break;
                    for (Uint32 i = 0; i < n; ++i) {
                        const Uint8* at = static_cast<const Uint8*>(views[i].payload);
                        records.emplace_back(at, at + views[i].length);
                        EXPECT_EQ(views[i].lostSlots, 0u);
                    }
                }
            }
            bool wrapped = false;
            EXPECT_EQ(ramboDidBufferWrap(&p->rambo, &wrapped), 0u);
            EXPECT_TRUE(wrapped);
            EXPECT_EQ(gtraceCloseDumpFileParser(p), 0u);
            f.close();
            EXPECT_TRUE(std::all_of(memory.begin() + kPartSize, memory.end(), [](Uint8 v) { return v == 0xA5; }))
                << "nothing written past the parser, forward " << forward;
            EXPECT_TRUE(records == parseFile(path, forward).records) << "forward " << forward;
        }
    }
}

TEST_F(TraceDump, CircularDumpOfRecordsOfManySizesKeepsTheirOrder) {
    start(GTRACE_MODE_CIRCULAR);
    const Uint32 written = 3000;  // about three laps, records straddling the end re-reserved
    for (Uint32 i = 0; i < written; ++i) writeRecord(i, (i * 131) % 2000);
    const std::vector<Uint32> ids = roundTrip(save(dumpOfBoundTrace()));
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids.back(), written - 1);
    EXPECT_EQ(ids, range(ids.front(), written)) << "a gapless run ending with the newest";
    EXPECT_GT(ids.size(), 300u);
}

TEST_F(TraceDump, OverflowedLinearDumpKeepsWhatTheBufferHolds) {
    // Writers ran more than two buffer lengths past the end: the dump still holds the first N
    // slots' records and says it was truncated.
    start(GTRACE_MODE_LINEAR);
    const Uint32 fit = kSlots / kPerRecord;
    for (Uint32 i = 0; i < 3 * fit + 10; ++i) writeRecord(i);
    Parsed fwd;
    EXPECT_EQ(roundTrip(save(dumpOfBoundTrace()), &fwd), range(0, fit));
    EXPECT_TRUE(fwd.truncated);
}

TEST_F(TraceDump, DumpAfterClearHoldsNoEarlierRecord) {
    for (Uint32 mode : {GTRACE_MODE_CIRCULAR, GTRACE_MODE_LINEAR}) {
        start(mode);
        for (Uint32 i = 0; i < 500; ++i) writeRecord(i);
        ASSERT_EQ(gtraceClear(), 0u);
        for (Uint32 i = 1000; i < 1020; ++i) writeRecord(i);
        EXPECT_EQ(roundTrip(save(dumpOfBoundTrace())), range(1000, 1020)) << mode;
        ASSERT_EQ(gtraceClear(), 0u);
        EXPECT_TRUE(roundTrip(save(dumpOfBoundTrace())).empty()) << mode;
        gtraceDetach();
        VirtualFree(mem_, 0, MEM_RELEASE);
        mem_ = nullptr;
    }
}

TEST_F(TraceDump, WindowSurvivesTheSequenceCounterWrap) {
    start(GTRACE_MODE_CIRCULAR);
    // Start just below 2^32: the newest records carry small sequences after the wrap.
    RamboControlBlock* ring = reinterpret_cast<RamboControlBlock*>(ringOf(mem_));
    ring->nextSequence = 0u - 100u;
    ring->sequenceStart = 0u - 100u;
    for (Uint32 i = 0; i < 200; ++i) writeRecord(i);
    EXPECT_EQ(roundTrip(save(dumpOfBoundTrace())), range(0, 200));
}

TEST_F(TraceDump, StreamDumpParsesToTheEndOfTheFile) {
    start(GTRACE_MODE_LINEAR);
    for (Uint32 i = 0; i < 100; ++i) writeRecord(i, i % 3 ? 0 : 200);
    // A stream of a fresh buffer is the data area in slot order behind a kind 2 head.
    Bytes b = dumpOfBoundTrace(false);
    const Uint32 used = nextSequence(mem_);
    b.resize(GTRACE_DUMP_HEADER_BUFFER_SIZE + used * 64);
    EXPECT_EQ(roundTrip(save(b)), range(0, 100));
}

TEST_F(TraceDump, CircularlyWrittenStreamStartsAfterItsNewestRecord) {
    start(GTRACE_MODE_LINEAR);
    for (Uint32 i = 0; i < 1000; ++i) writeRecord(i);
    // A stream file of 600 slots written round by its dumper.
    Bytes b = dumpOfBoundTrace(false);
    GTraceDumpHeader* h = reinterpret_cast<GTraceDumpHeader*>(b.data());
    h->options.wrappingDumpMarker = 1;
    const size_t data = GTRACE_DUMP_HEADER_BUFFER_SIZE;
    Bytes file(b.begin(), b.begin() + data + 600 * 64);
    Parsed fwd;
    // Stream slots 600..899 (records 300..449) lapped over the file's slots 0..299; slots
    // 300..599 still hold stream slots 300..599 (records 150..299).
    memcpy(file.data() + data, b.data() + data + 600 * 64, 300 * 64);
    memcpy(file.data() + data + 300 * 64, b.data() + data + 300 * 64, 300 * 64);
    EXPECT_EQ(roundTrip(save(file), &fwd), range(150, 450));
    EXPECT_TRUE(fwd.wrapped);
}

// Records reserved and never published (still being written when the dump was taken) leave
// their slots behind; the parser reports them as missing, in slots, where they fall in either
// direction, and ossetool prints them. The buffer does not wrap, so both modes know where the
// sequence began.
TEST_F(TraceDump, RecordsStillBeingWrittenAreReportedMissingWhereTheyFall) {
    for (Uint32 mode : {GTRACE_MODE_CIRCULAR, GTRACE_MODE_LINEAR}) {
        start(mode);
        RamboControlBlock* ring = reinterpret_cast<RamboControlBlock*>(ringOf(mem_));
        RamboReservation unpublished;
        ramboReserveSlots(ring, 100, &unpublished);  // 2 slots
        for (Uint32 i = 0; i < 10; ++i) writeRecord(i);
        ramboReserveOneSlot(ring, &unpublished);
        for (Uint32 i = 10; i < 20; ++i) writeRecord(i);
        ramboReserveSlots(ring, 150, &unpublished);  // 3 slots
        for (Uint32 i = 20; i < 30; ++i) writeRecord(i);
        ramboReserveOneSlot(ring, &unpublished);
        const std::string path = save(dumpOfBoundTrace());

        const Parsed fwd = parseFile(path, true), back = parseFile(path, false);
        ASSERT_EQ(idsOf(fwd), range(0, 30)) << mode;
        const Parsed batched = parseFile(path, false, Via::Batch);
        EXPECT_EQ(batched.lostBefore, back.lostBefore) << mode;
        EXPECT_EQ(batched.lostAfter, back.lostAfter) << mode;
        std::vector<Uint32> lost(30, 0);
        lost[0] = 2, lost[10] = 1, lost[20] = 3;
        EXPECT_EQ(fwd.lostBefore, lost) << mode;
        EXPECT_EQ(fwd.lostAfter, 1u) << mode;
        std::vector<Uint32> lostBack(30, 0);  // newest first: record 29 is first
        lostBack[0] = 1, lostBack[10] = 3, lostBack[20] = 1;
        EXPECT_EQ(back.lostBefore, lostBack) << mode;
        EXPECT_EQ(back.lostAfter, 2u) << mode;

        std::string out;
        ASSERT_EQ(ossetest::runProgram(OSSETOOL_EXE, "trace format \"" + path + "\"", &out), 0) << out;
        std::vector<std::string> marks;  // the loss lines, each with the probe of the record after it
        std::string pending;
        size_t at = 0;
        while (at < out.size()) {
            size_t end = out.find('\n', at);
            if (end == std::string::npos) end = out.size();
            std::string line = out.substr(at, end - at);
            at = end + 1;
            if (line.compare(0, 6, "[LOST ") == 0) {
                pending = line.substr(0, line.find(']') + 1);
            } else if (!pending.empty()) {
                const size_t probe = line.find(" probe ");
                marks.push_back(pending + (probe == std::string::npos
                                               ? " at end"
                                               : " probe " + std::to_string(atoi(line.c_str() + probe + 7))));
                pending.clear();
            }
        }
        EXPECT_EQ(marks, (std::vector<std::string>{"[LOST UP TO 2 RECORDS] probe 0",
                                                   "[LOST 1 RECORDS] probe 10",
                                                   "[LOST UP TO 3 RECORDS] probe 20",
                                                   "[LOST 1 RECORDS] at end"}))
            << out;
        // The JSON form carries them as instant events.
        ASSERT_EQ(ossetest::runProgram(OSSETOOL_EXE, "trace format --json \"" + path + "\"", &out), 0) << out;
        size_t events = 0;
        for (size_t at = out.find("\"name\":\"LOST "); at != std::string::npos; at = out.find("\"name\":\"LOST ", at + 1))
            ++events;
        EXPECT_EQ(events, 4u) << out;
        gtraceDetach();
        VirtualFree(mem_, 0, MEM_RELEASE);
        mem_ = nullptr;
    }
}

// A stream whose dumper missed slots: the gap between the records around them is reported.
TEST_F(TraceDump, StreamWithMissingSlotsReportsTheGap) {
    start(GTRACE_MODE_LINEAR);
    for (Uint32 i = 0; i < 100; ++i) writeRecord(i);
    Bytes b = dumpOfBoundTrace(false);
    b.resize(GTRACE_DUMP_HEADER_BUFFER_SIZE + 200 * 64);
    // Records 40 .. 44 (slots 80 .. 89) never reached the file.
    memset(b.data() + GTRACE_DUMP_HEADER_BUFFER_SIZE + 80 * 64, 0, 10 * 64);
    const std::string path = save(b);
    const Parsed fwd = parseFile(path, true), back = parseFile(path, false);
    std::vector<Uint32> ids = range(0, 40), later = range(45, 100);
    ids.insert(ids.end(), later.begin(), later.end());
    ASSERT_EQ(idsOf(fwd), ids);
    std::vector<Uint32> lost(95, 0);
    lost[40] = 10;
    EXPECT_EQ(fwd.lostBefore, lost);
    lost[40] = 0, lost[55] = 10;  // newest first: record 39 is the 56th
    EXPECT_EQ(back.lostBefore, lost);
    EXPECT_EQ(fwd.lostAfter + back.lostAfter, 0u) << "a stream has no known ends";
}

// Batches in place mix with records copied out one at a time (a refill between them moves the
// buffer); what a batch cannot be given gets nothing.
TEST_F(TraceDump, BatchesMixWithSingleRecords) {
    start(GTRACE_MODE_LINEAR, 0, 0x200000);
    for (Uint32 i = 0; i < 8000; ++i) writeRecord(i, i % 7 ? 0 : 300);  // 1.3 MiB: the parser reads twice
    const std::string path = save(dumpOfBoundTrace());
    for (bool forward : {true, false}) {
        OSSHFile f;
        ASSERT_TRUE(openRead(f, path));
        GTraceDumpParser p;
        ASSERT_EQ(gtraceOpenDumpFileParser(&f, &p, forward), 0u);
        GTraceRecordView views[4];
        EXPECT_EQ(gtraceParseRecordBatch(&f, &p, views, 0), 0u);
        EXPECT_EQ(gtraceParseRecordBatch(&f, &p, nullptr, 4), 0u);
        EXPECT_EQ(gtraceParseRecordBatch(nullptr, &p, views, 4), 0u);
        std::vector<Uint32> ids;
        static Uint8 buf[RAMBO_MAX_PAYLOAD];
        for (Uint32 round = 0;; ++round) {
            if (round % 2) {
                const Uint32 n = gtraceParseRecordBatch(&f, &p, views, 1 + round % 4);
                if (n == 0) break;
                for (Uint32 i = 0; i < n; ++i) {
                    const Uint8* b = static_cast<const Uint8*>(views[i].payload);
                    ids.push_back(idOf(Bytes(b, b + views[i].length)));
                }
            } else {
                const Uint32 n = gtraceParseRecords(&f, &p, nullptr, buf, sizeof buf);
                if (n == 0) break;
                ids.push_back(idOf(Bytes(buf, buf + n)));
            }
        }
        if (!forward) std::reverse(ids.begin(), ids.end());
        EXPECT_EQ(ids, range(0, 8000)) << forward;
        EXPECT_EQ(gtraceCloseDumpFileParser(&p), 0u);
        EXPECT_EQ(gtraceParseRecordBatch(&f, &p, views, 4), 0u) << "closed";
        f.close();
    }
}

TEST_F(TraceDump, ValidationCodesAndThePositionRestored) {
    start(GTRACE_MODE_LINEAR);
    for (Uint32 i = 0; i < 10; ++i) writeRecord(i);
    const Bytes good = dumpOfBoundTrace();
    const size_t headAt = GTRACE_DUMP_HEADER_SIZE;
    const size_t tailAt = good.size() - sizeof(RamboDumpTail);
    struct Case {
        const char* what;
        size_t cut;      // file length (SIZE_MAX: whole)
        size_t at;       // byte to change
        Uint32 value;    // new 32-bit value at `at`
        bool change;
        Uint32 expected; // expected kind for gtraceValidateDumpFile
        OSSErr rc;
    } cases[] = {
        {"valid", SIZE_MAX, 0, 0, false, 0, 0},
        {"kind expected 1", SIZE_MAX, 0, 0, false, 1, 0},
        {"profile expected", SIZE_MAX, 0, 0, false, 2, ECF_INVALID_PARAMETER},
        {"cut header", 1000, 0, 0, false, 0, ECF_GTRACE_DUMP_HEADER_TRUNCATED},
        {"dump eye", SIZE_MAX, 0, 0x58585858, true, 0, ECF_GTRACE_INVALID_DUMP_EYE_CATCHER},
        {"cut head", headAt + 10, 0, 0, false, 0, ECF_RAMBO_DUMP_HEADER_TRUNCATED},
        {"head eye", SIZE_MAX, headAt, 0x58585858, true, 0, ECF_RAMBO_INVALID_DUMP_HEADER_EYE_CATCHER},
        {"kind 3", SIZE_MAX, headAt + 12, 0x3, true, 0, ECF_RAMBO_INVALID_DUMP_TYPE},
        {"size 256 KiB", SIZE_MAX, headAt + 8, 0x40000, true, 0, ECF_RAMBO_INVALID_DUMP_BUFFER_SIZE},
        {"cut data", headAt + 5000, 0, 0, false, 0, ECF_RAMBO_INSTANT_DUMP_TRUNCATED},
        {"cut tail", tailAt + 20, 0, 0, false, 0, ECF_RAMBO_INSTANT_DUMP_TRUNCATED},
        {"tail eye", SIZE_MAX, tailAt, 0x58585858, true, 0, ECF_RAMBO_INVALID_DUMP_TAIL_EYE_CATCHER},
        {"tail index N", SIZE_MAX, tailAt + 12, kSlots, true, 0, ECF_RAMBO_INVALID_DUMP_SLOT_INDEX},
    };
    for (const Case& c : cases) {
        Bytes b = good;
        if (c.change) memcpy(b.data() + c.at, &c.value, 4);
        const std::string path = dir_.file("v.dmp");
        ASSERT_TRUE(writeBytes(path, b, c.cut));
        OSSHFile f;
        ASSERT_TRUE(openRead(f, path));
        // Validation starts where the caller stands and returns there.
        Uint64 pos = 0;
        EXPECT_EQ(gtraceValidateDumpFile(&f, c.expected), c.rc) << c.what;
        OSSFileSeekParam here = {OSS_CURRENT_VERSION, 0, OSS_FILE_SEEK_CUR};
        EXPECT_EQ(f.seek(&here, &pos), 0u);
        EXPECT_EQ(pos, 0u) << c.what;
        GTraceDumpParser p;
        EXPECT_EQ(gtraceOpenDumpFileParser(&f, &p, true), c.expected == 2 ? 0u : c.rc) << c.what;
        const OSSErr openRc = c.expected == 2 ? 0u : c.rc;
        EXPECT_EQ(gtraceCloseDumpFileParser(&p), openRc ? ECF_INVALID_PARAMETER : 0u)
            << c.what << ": closing after a failed open is refused, never a crash";
        f.close();
    }
}

TEST_F(TraceDump, BareRingHeadValidation) {
    ossetest::TempDir d;
    RamboDumpHead head = {};
    memcpy(head.eyeCatcher, RAMBO_DUMP_HEAD_EYECATCHER, 8);
    head.bufferSize = 0x80000;
    head.kind = RAMBO_DUMP_KIND_STREAM;
    Bytes b(reinterpret_cast<Uint8*>(&head), reinterpret_cast<Uint8*>(&head) + sizeof head);
    for (Uint32 extra : {0u, 63u, 64u}) {
        Bytes file = b;
        file.resize(file.size() + extra);
        const std::string path = d.file("h.dmp");
        ASSERT_TRUE(writeBytes(path, file));
        OSSHFile f;
        ASSERT_TRUE(openRead(f, path));
        EXPECT_EQ(ramboValidateDumpFile(&f), extra == 63 ? ECF_RAMBO_DUMP_TRUNCATED : 0u) << extra;
        RamboDumpParser p;
        if (ramboOpenDumpFileParser(&f, &p, extra != 64) == 0) {
            Uint8 out[64];
            EXPECT_EQ(ramboParseDumpFile(&f, &p, nullptr, out, sizeof out), 0u);
            EXPECT_EQ(ramboCloseDumpFileParser(&p), 0u);
        }
        EXPECT_EQ(ramboCloseDumpFileParser(&p), ECF_INVALID_PARAMETER);
        f.close();
    }
}

TEST_F(TraceDump, ShortOutputBufferGetsThePrefixAndTheFullLength) {
    start(GTRACE_MODE_LINEAR);
    _gtraceMarker(1, 0, 0x081A0003, 9, 7);
    const std::string path = save(dumpOfBoundTrace());
    OSSHFile f;
    ASSERT_TRUE(openRead(f, path));
    GTraceDumpParser p;
    ASSERT_EQ(gtraceOpenDumpFileParser(&f, &p, true), 0u);
    Uint8 out[10];
    Uint64 offset = 0;
    EXPECT_EQ(gtraceParseRecords(&f, &p, &offset, out, sizeof out), 52u);
    EXPECT_EQ(offset, GTRACE_DUMP_HEADER_BUFFER_SIZE + 8u);
    EXPECT_EQ(gtraceParseRecords(&f, &p, &offset, out, sizeof out), 0u);
    EXPECT_EQ(gtraceCloseDumpFileParser(&p), 0u);
    f.close();
}

// ossetool's Trace Event JSON: every "B" is closed by an "E" of the same function on the same
// thread, properly nested, also where the dump holds exits without entries, exits that skip
// inner frames, and entries never left.
TEST_F(TraceDump, JsonBeginAndEndEventsNestPerThread) {
    start(GTRACE_MODE_LINEAR);
    const Uint32 a = 0x081A0003, b = 0x081A0004, c = 0x081A0005, d = 0x081A0006;
    const Uint32 ok = 0;
    auto in = [](Uint32 tid, Uint32 f) { _gtraceEntry(tid, 0, f, 0, 1000000); };
    auto out = [&](Uint32 tid, Uint32 f) { _gtraceExit(tid, 0, f, &ok, 0, 0); };
    in(1, a), in(2, c), in(1, b), out(2, d);  // thread 2: an exit without its entry
    out(1, b), in(1, c), in(2, c), out(2, c);
    out(1, a);                                // leaves c, entered inside a, with it
    in(1, d), out(2, c), in(2, a);            // thread 1 ends inside d, thread 2 inside a
    const std::string path = save(dumpOfBoundTrace());
    std::string json;
    ASSERT_EQ(ossetest::runProgram(OSSETOOL_EXE, "trace format --json \"" + path + "\"", &json), 0) << json;

    auto field = [](const std::string& line, const char* key) {
        const size_t at = line.find(key);
        if (at == std::string::npos) return std::string();
        const size_t from = at + strlen(key);
        const size_t end = line[from] == '"' ? line.find('"', from + 1) + 1 : line.find_first_of(",}", from);
        return line.substr(from, end - from);
    };
    std::map<std::string, std::vector<std::string>> open;  // pid/tid -> names entered
    std::set<std::string> processNames, threadNames;
    size_t begins = 0, ends = 0;
    for (size_t at = 0; at < json.size();) {
        size_t end = json.find('\n', at);
        if (end == std::string::npos) end = json.size();
        const std::string line = json.substr(at, end - at);
        at = end + 1;
        const std::string ph = field(line, "\"ph\":");
        const std::string thread = field(line, "\"pid\":") + "/" + field(line, "\"tid\":");
        const std::string name = field(line, "\"name\":");
        if (ph == "\"M\"") {
            // A viewer lists processes and threads by these names, each given once.
            const std::string shown = field(line, "\"args\":{\"name\":");
            if (name == "\"process_name\"") {
                EXPECT_TRUE(processNames.insert(shown).second) << line;
            } else if (name == "\"thread_name\"") {
                EXPECT_TRUE(threadNames.insert(thread).second) << line;
            }
            continue;
        }
        if (ph != "\"B\"" && ph != "\"E\"") continue;
        // A viewer names a frame, and matches an E to its B, by name and arguments: the name alone.
        EXPECT_EQ(line.find("\"args\""), std::string::npos) << line;
        std::vector<std::string>& stack = open[thread];
        if (ph == "\"B\"") {
            ++begins;
            stack.push_back(name);
        } else {
            ++ends;
            ASSERT_FALSE(stack.empty()) << "E without B: " << line;
            EXPECT_EQ(stack.back(), name) << "E closes the innermost B: " << line;
            stack.pop_back();
        }
    }
    EXPECT_EQ(begins, 7u);
    EXPECT_EQ(ends, begins);
    EXPECT_EQ(processNames.size(), 1u);
    EXPECT_EQ(threadNames.size(), 2u);
    EXPECT_NE(json.find("\"entry\":{\"probe\":"), std::string::npos) << "entry values go with the exit";
    for (const auto& kv : open) EXPECT_TRUE(kv.second.empty()) << "left open on " << kv.first;
}

// ossetool trace coverage reads a coverage dump, and refuses one whose header states a buffer
// larger than the file holds (without sizing memory from that word).
TEST_F(TraceDump, CoverageToolChecksTheStatedSizeAgainstTheFile) {
    start(GTRACE_MODE_COVERAGE, 0, 0x800000);
    gtraceEnable();
    _gtraceMarker(1, 0, 0x081A0003, 40, 4);
    const Bytes dump = dumpOfBoundTrace(false);
    gtraceDisable();
    ASSERT_EQ(dump.size(), GTRACE_DUMP_HEADER_BUFFER_SIZE + 0x800000u);
    Bytes huge = dump;
    reinterpret_cast<GTraceDumpHeader*>(huge.data())->options.bufferSize = 0xFFFFFFF0u;
    const Bytes cut(dump.begin(), dump.end() - 1);
    const struct {
        const char* what;
        const Bytes* file;
        int status;
    } cases[] = {{"whole", &dump, 0}, {"size word beyond the file", &huge, 1}, {"cut", &cut, 1}};
    for (const auto& c : cases) {
        const std::string path = save(*c.file, "c.dmp");
        std::string out;
        EXPECT_EQ(ossetest::runProgram(OSSETOOL_EXE, "trace coverage \"" + path + "\"", &out), c.status)
            << c.what << "\n" << out;
        if (c.status == 0) EXPECT_NE(out.find("probe 40"), std::string::npos) << out;
        else EXPECT_NE(out.find("not a coverage dump"), std::string::npos) << c.what << "\n" << out;
    }
}
