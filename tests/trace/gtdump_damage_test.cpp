// Damaged dump files: each case is parsed in a child process with a time limit, so that a crash
// or an endless loop fails the case instead of the test program. Every whole record before the
// damage must come back, in both directions, with the stated open code.
#include "dump_helpers.h"
#include "trace_fixture.h"

#include "osse_test.h"

#include <stdlib.h>

#include <algorithm>
#include <sstream>

using namespace tracetest;

namespace {

std::string joinIds(const std::vector<Uint32>& ids) {
    std::ostringstream s;
    for (size_t i = 0; i < ids.size(); ++i) s << (i ? "," : "") << ids[i];
    return s.str().empty() ? "-" : s.str();
}

}  // namespace

// args: dump path, expected open code (hex), expected ids in forward order ("-" for none).
OSSE_CHILD_ROLE(parseDamaged) {
    if (args.size() != 3) return 90;
    const OSSErr rc = (OSSErr)strtoul(args[1].c_str(), nullptr, 16);
    const std::string want = args[2];
    for (Via via : {Via::Copy, Via::Batch})
        for (bool forward : {true, false}) {
            Parsed p = parseFile(args[0], forward, via);
            if (p.openRc != rc) return forward ? 10 : 11;
            std::vector<Uint32> ids = idsOf(p);
            if (!forward) std::reverse(ids.begin(), ids.end());
            if (joinIds(ids) != want) return forward ? 20 : 21;
        }
    return 0;
}

// args: dump path, first and last+1 truncation point, record ends (byte offsets, comma list).
// The file is cut at every point from the last down to the first and parsed each time.
OSSE_CHILD_ROLE(parseCuts) {
    if (args.size() != 4) return 90;
    const size_t from = strtoul(args[1].c_str(), nullptr, 10), to = strtoul(args[2].c_str(), nullptr, 10);
    std::vector<size_t> ends;
    std::istringstream in(args[3]);
    for (std::string e; std::getline(in, e, ',');) ends.push_back(strtoul(e.c_str(), nullptr, 10));
    for (size_t cut = to; cut-- > from;) {
        HANDLE h = CreateFileA(args[0].c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        if (h == INVALID_HANDLE_VALUE) return 91;
        LONG high = 0;
        SetFilePointer(h, (LONG)cut, &high, FILE_BEGIN);
        const bool cutOk = SetEndOfFile(h) != 0;
        CloseHandle(h);
        if (!cutOk) return 92;
        std::vector<Uint32> whole;
        for (Uint32 i = 0; i < ends.size(); ++i)
            if (ends[i] <= cut) whole.push_back(i);
        for (int way = 0; way < 4; ++way) {
            const bool forward = way % 2 == 0;
            Parsed p = parseFile(args[0], forward, way < 2 ? Via::Copy : Via::Batch);
            if (p.openRc != 0) {
                fprintf(stderr, "cut %u: open %X\n", (unsigned)cut, p.openRc);
                return 10;
            }
            std::vector<Uint32> ids = idsOf(p);
            if (!forward) std::reverse(ids.begin(), ids.end());
            if (ids != whole) {
                fprintf(stderr, "cut %u: %s\n", (unsigned)cut, joinIds(ids).c_str());
                return 20;
            }
        }
    }
    return 0;
}

namespace {

class DamagedDump : public TraceFixture {
protected:
    void SetUp() override {
        start(mode_);
        for (Uint32 i = 0; i < kRecords; ++i) {
            const Uint32 seq = nextSequence(mem_);
            writeRecord(i, i + 3 < kRecords ? (i * 97) % 300 : 40 * (i + 3 - kRecords));
            slotOf_.push_back(seq);
            slotsOf_.push_back(nextSequence(mem_) - seq);
        }
        instant_ = dumpOfBoundTrace();
        stream_ = dumpOfBoundTrace(false);
        stream_.resize(kData + nextSequence(mem_) * 64);
    }
    // Runs one case in a child and expects it to succeed within the time limit.
    void expectParse(const char* what, const Bytes& file, OSSErr rc, const std::vector<Uint32>& ids,
                     size_t cut = (size_t)-1) {
        const std::string path = dir_.file("d.dmp");
        ASSERT_TRUE(writeBytes(path, file, cut));
        char code[16];
        snprintf(code, sizeof code, "%X", rc);
        EXPECT_EQ(ossetest::runChild("parseDamaged", {path, code, joinIds(ids)}, {}, 20000), 0)
            << what << " cut at " << (cut == (size_t)-1 ? 0 : cut);
    }
    size_t recordAt(const Bytes& b, Uint32 i) const {
        (void)b;
        return kData + 64u * slotOf_[i];
    }
    std::vector<Uint32> allBut(Uint32 skip) const {
        std::vector<Uint32> v;
        for (Uint32 i = 0; i < kRecords; ++i)
            if (i != skip) v.push_back(i);
        return v;
    }

    static constexpr Uint32 kRecords = 12;
    static constexpr size_t kData = GTRACE_DUMP_HEADER_BUFFER_SIZE;
    Uint32 mode_ = GTRACE_MODE_LINEAR;
    std::vector<Uint32> slotOf_, slotsOf_;
    Bytes instant_, stream_;
    ossetest::TempDir dir_;
};

}  // namespace

TEST_F(DamagedDump, StreamCutAtEveryByteOfItsLastThreeRecords) {
    std::ostringstream ends;
    for (Uint32 i = 0; i < kRecords; ++i)
        ends << (i ? "," : "") << kData + 64u * (slotOf_[i] + slotsOf_[i]);
    const std::string path = dir_.file("cut.dmp");
    ASSERT_TRUE(writeBytes(path, stream_));
    // One child per record: a crash or a hang at any of its cut points fails that record.
    for (Uint32 r = kRecords - 3; r < kRecords; ++r) {
        const size_t from = recordAt(stream_, r);
        const size_t to = from + 64u * slotsOf_[r];
        EXPECT_EQ(ossetest::runChild("parseCuts", {path, std::to_string(from), std::to_string(to),
                                                   ends.str()}, {}, 30000), 0)
            << "record " << r;
        ASSERT_TRUE(writeBytes(path, stream_));
    }
}

TEST_F(DamagedDump, FlippedMarkersTrailersAndSlotCounts) {
    const Uint32 victim = 5;
    struct Case {
        const char* what;
        bool stream;
        size_t offset;  // from the victim's first slot
        Uint32 xorWith;
        Uint32 record;
    } cases[] = {
        {"marker", false, 4, 0x1, victim},
        {"first record's marker", false, 4, 0x100, 0},
        {"trailer", false, 64u * slotsOf_[victim] - 4, 0x80000000u, victim},
        {"sequence", false, 0, 0x2, victim},
        {"slot count 2048 past the end", true, 4, (2048u ^ slotsOf_[kRecords - 1]) << 16, kRecords - 1},
        {"slot count 0", true, 4, slotsOf_[victim] << 16, victim},
    };
    for (const Case& c : cases) {
        Bytes b = c.stream ? stream_ : instant_;
        const size_t at = recordAt(b, c.record) + c.offset;
        Uint32 v;
        memcpy(&v, b.data() + at, 4);
        v ^= c.xorWith;
        memcpy(b.data() + at, &v, 4);
        expectParse(c.what, b, 0, allBut(c.record));
    }
}

TEST_F(DamagedDump, HeaderAndKindDamage) {
    const size_t head = GTRACE_DUMP_HEADER_SIZE;
    Bytes kind3 = instant_;
    kind3[head + 12] = 3;
    expectParse("kind 3", kind3, ECF_RAMBO_INVALID_DUMP_TYPE, {});
    expectParse("cut header", instant_, ECF_GTRACE_DUMP_HEADER_TRUNCATED, {}, 5000);
    expectParse("cut ring head", instant_, ECF_RAMBO_DUMP_HEADER_TRUNCATED, {}, head + 15);
    expectParse("cut instantaneous data", instant_, ECF_RAMBO_INSTANT_DUMP_TRUNCATED, {},
                instant_.size() - 1);
    // A stream dump read as a profile dump by its mode word, and the other way round: a
    // profile header in front of records parses no record, never garbage.
    Bytes profile = stream_;
    reinterpret_cast<GTraceDumpHeader*>(profile.data())->options.mode = GTRACE_MODE_PROFILE;
    reinterpret_cast<GTraceDumpHeader*>(profile.data())->options.bufferSize = 0;
    expectParse("profile mode word, empty table", profile, 0, {});
}

TEST_F(DamagedDump, StaleLapRecordIsNotReturned) {
    // A record whose sequence lies one lap before the window, trailer matching.
    Bytes b = instant_;
    const size_t at = recordAt(b, 3);
    Uint32 seq;
    memcpy(&seq, b.data() + at, 4);
    seq -= 2 * (0x80000 / 64);
    const Uint32 trailer = ~seq;
    memcpy(b.data() + at, &seq, 4);
    memcpy(b.data() + at + 64u * slotsOf_[3] - 4, &trailer, 4);
    expectParse("stale lap", b, 0, allBut(3));
}
