// Many writers, one control block: two threads of this process and three child processes write
// into a trace in a named file mapping at the same time, then the data area is scanned with
// the record-start test (marker, slot count, trailer, sequence window).
#include "trace_fixture.h"

#include "osse_test.h"

#include <stdlib.h>

#include <string>
#include <thread>

using namespace tracetest;

namespace {

const Uint32 kId = 0x081A0003;
const Uint32 kWriters = 5;       // writers 0 and 1 are threads here, 2..4 child processes
const Uint32 kItemBytes = 48;    // a record with one such item takes two slots
const Uint32 kVarEvery = 16;     // every 16th record has the item

Uint8 patternByte(Uint32 writer, Uint32 i, Uint32 j) {
    return static_cast<Uint8>(i * 31 + writer * 7 + j);
}

// The writes of writer w, as the library's call frame would make them.
void writeRecords(Uint32 w, Uint32 count) {
    Uint8 item[kItemBytes];
    for (Uint32 i = 0; i < count; ++i) {
        const GTCB* cb = g_pGTCB;
        if (cb == nullptr || cb->enabled == 0) continue;
        if (i % kVarEvery == kVarEvery - 1) {
            for (Uint32 j = 0; j < kItemBytes; ++j) item[j] = patternByte(w, i, j);
            _gtraceVar(w, i, kId, 7, 3, 1, GTRACE_ITEM_BYTES, kItemBytes, item);
        } else {
            _gtraceEntry(w, i, kId, i, ~i);
        }
    }
}

Uint32 slotsOfWriter(Uint32 count) {
    const Uint32 var = count / kVarEvery;
    return (count - var) + 2 * var;
}

// Writer and record number of a whole record, or false when any byte disagrees.
bool checkRecord(const Slotted& s, Uint32* writer, Uint32* number) {
    const Uint8* p = s.payload;
    const Uint32 w = readAt<Uint32>(p, 0x08);
    const Uint32 i = readAt<Uint32>(p, 0x0C);
    // The two threads share this process's process id; each child has its own.
    const Uint32 pid = w < 2 ? 1000 : 1000 + w;
    if (w >= kWriters || readAt<Uint32>(p, 0x10) != pid || readAt<Uint32>(p, 0x14) != kId) {
        return false;
    }
    const Uint16 type = readAt<Uint16>(p, 0x20);
    if (type == 1) {
        if (s.slots != 1 || readAt<Uint32>(p, 0x28) != i || readAt<Uint32>(p, 0x2C) != ~i) return false;
    } else if (type == 3) {
        if (s.slots != 2 || i % kVarEvery != kVarEvery - 1 || readAt<Uint16>(p, 0x24) != 7 ||
            readAt<Uint16>(p, 0x26) != 8 + kItemBytes || readAt<Uint32>(p, 0x34) != 1 ||
            readAt<Uint32>(p, 0x38) != 0 || readAt<Uint32>(p, 0x3C) != kItemBytes) {
            return false;
        }
        for (Uint32 j = 0; j < kItemBytes; ++j) {
            if (p[0x40 + j] != patternByte(w, i, j)) return false;
        }
    } else {
        return false;
    }
    *writer = w;
    *number = i;
    return true;
}

std::string uniqueName(const char* what) {
    static int n = 0;
    return std::string("Local\\osse_trace_") + what + "_" + std::to_string(GetCurrentProcessId()) +
           "_" + std::to_string(++n);
}

}  // namespace

// args: mapping, ready semaphore, go event, writer, count
OSSE_CHILD_ROLE(trace_writer) {
    if (args.size() != 5) return 10;
    HANDLE map = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, args[0].c_str());
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, args[1].c_str());
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, args[2].c_str());
    if (!map || !ready || !go) return 11;
    void* view = MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) return 12;
    const Uint32 w = static_cast<Uint32>(atoi(args[3].c_str()));
    const Uint32 count = static_cast<Uint32>(atoi(args[4].c_str()));
    if (gtraceAttach(static_cast<GTCB*>(view), 1000 + w, nullptr, nullptr, nullptr) != 0) return 13;
    ReleaseSemaphore(ready, 1, nullptr);
    if (WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) return 14;
    writeRecords(w, count);
    gtraceDetach();
    UnmapViewOfFile(view);
    return 0;
}

// args: mapping. Writes until the trace is switched off (a linear buffer that fills up does
// that); 0 when it was.
OSSE_CHILD_ROLE(trace_fill) {
    if (args.size() != 1) return 10;
    HANDLE map = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, args[0].c_str());
    void* view = map ? MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    if (!view) return 11;
    if (gtraceAttach(static_cast<GTCB*>(view), 2000, nullptr, nullptr, nullptr) != 0) return 12;
    const Uint32 limit = 0x80000 / 64 + 10;
    Uint32 written = 0;
    while (written < limit && g_pGTCB->enabled != 0) _gtraceEntry(1, 0, kId, written++, 0);
    const int rc = g_pGTCB->enabled == 0 && written == 0x80000 / 64 + 1 ? 0 : 13;
    gtraceDetach();
    UnmapViewOfFile(view);
    CloseHandle(map);
    return rc;
}

TEST(GTraceSharedBlock, AFullLinearBufferInOneProcessSwitchesTracingOffForAll) {
    const std::string name = uniqueName("fill");
    const Uint32 size = gtraceGetAllocSize(0x80000);
    HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                    name.c_str());
    ASSERT_NE(map, nullptr);
    void* view = MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    std::unique_ptr<GTraceOptions> o(new GTraceOptions);
    o->bufferSize = 0x80000;
    o->mode = GTRACE_MODE_LINEAR;
    ASSERT_EQ(gtraceInitialize(view, o.get()), 0u);
    ASSERT_EQ(gtraceAttach(static_cast<GTCB*>(view), 1000, nullptr, nullptr, nullptr), 0u);
    ASSERT_EQ(gtraceEnable(), 0u);
    EXPECT_EQ(ossetest::runChild("trace_fill", {name}), 0);
    EXPECT_EQ(g_pGTCB->enabled, 0u) << "seen here through the shared block";
    // A new sequence empties the buffer; tracing can go on.
    EXPECT_EQ(gtraceClear(), 0u);
    EXPECT_EQ(gtraceEnable(), 0u);
    _gtraceEntry(1, 0, kId, 0, 0);
    EXPECT_EQ(g_pGTCB->enabled, 1u);
    gtraceDetach();
    UnmapViewOfFile(view);
    CloseHandle(map);
}

namespace {

class GTraceConcurrency : public ::testing::Test {
protected:
    // Formats a trace in a named mapping, runs the five writers at once, and leaves the
    // mapping for the scan.
    void run(Uint32 mode, Uint32 bufferSize, Uint32 count) {
        const std::string mapName = uniqueName("map"), readyName = uniqueName("ready"),
                          goName = uniqueName("go");
        const Uint32 size = gtraceGetAllocSize(bufferSize);
        ASSERT_NE(size, 0u);
        map_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                  mapName.c_str());
        ASSERT_NE(map_, nullptr);
        view_ = MapViewOfFile(map_, FILE_MAP_ALL_ACCESS, 0, 0, 0);
        ASSERT_NE(view_, nullptr);
        std::unique_ptr<GTraceOptions> o(new GTraceOptions);
        o->bufferSize = bufferSize;
        o->mode = mode;
        ASSERT_EQ(gtraceInitialize(view_, o.get()), 0u);
        ASSERT_EQ(gtraceAttach(static_cast<GTCB*>(view_), 1000, nullptr, nullptr, nullptr), 0u);
        ASSERT_EQ(gtraceEnable(), 0u);

        HANDLE ready = CreateSemaphoreA(nullptr, 0, 16, readyName.c_str());
        HANDLE go = CreateEventA(nullptr, TRUE, FALSE, goName.c_str());
        ASSERT_TRUE(ready && go);
        ossetest::Child children[3];
        for (Uint32 c = 0; c < 3; ++c) {
            ASSERT_TRUE(children[c].start("trace_writer", {mapName, readyName, goName,
                                                           std::to_string(2 + c),
                                                           std::to_string(count)}));
        }
        for (int c = 0; c < 3; ++c) ASSERT_EQ(WaitForSingleObject(ready, 60000), WAIT_OBJECT_0);
        std::thread threads[2];
        for (Uint32 t = 0; t < 2; ++t) {
            threads[t] = std::thread([t, count, go] {
                WaitForSingleObject(go, 60000);
                writeRecords(t, count);
            });
        }
        SetEvent(go);
        for (auto& t : threads) t.join();
        for (auto& c : children) EXPECT_EQ(c.wait(120000), 0);
        CloseHandle(ready);
        CloseHandle(go);
        gtraceDetach();
    }
    void TearDown() override {
        if (view_) UnmapViewOfFile(view_);
        if (map_) CloseHandle(map_);
    }

    HANDLE map_ = nullptr;
    void* view_ = nullptr;
};

}  // namespace

TEST_F(GTraceConcurrency, LinearBufferKeepsEveryRecordOfEveryWriter) {
    const Uint32 count = 200000;  // 1,000,000 records from five writers
    const Uint32 bufferSize = 0x8000000;
    ASSERT_LE(kWriters * slotsOfWriter(count), bufferSize / 64) << "sized not to overflow";
    run(GTRACE_MODE_LINEAR, bufferSize, count);
    ASSERT_FALSE(HasFatalFailure());

    const Uint32 next = nextSequence(view_);
    EXPECT_EQ(next, kWriters * slotsOfWriter(count));
    EXPECT_EQ(static_cast<GTCB*>(view_)->enabled, 1u) << "never full";
    const Uint32 n = slotCount(view_);
    std::vector<std::vector<bool>> seen(kWriters, std::vector<bool>(count, false));
    std::vector<Uint32> perWriter(kWriters, 0);
    Uint32 rejected = 0, duplicates = 0, switches = 0, last = kWriters;
    for (Uint32 i = 0; i < next;) {
        const Slotted s = slotAt(view_, i);
        // Record start: marker, slot count, trailer, and a sequence of this window at this index.
        const bool start = s.marker == 0xCAFE && s.slots >= 1 && s.slots <= 2048 &&
                           i + s.slots <= n && s.sequence == i && s.sequence < next &&
                           s.whole;
        Uint32 w, number;
        if (!start || !checkRecord(s, &w, &number)) {
            ++rejected;
            ++i;
            continue;
        }
        if (seen[w][number]) ++duplicates;
        seen[w][number] = true;
        ++perWriter[w];
        if (w != last) ++switches;
        last = w;
        i += s.slots;
    }
    EXPECT_EQ(rejected, 0u) << "torn or missing records";
    EXPECT_EQ(duplicates, 0u);
    for (Uint32 w = 0; w < kWriters; ++w) EXPECT_EQ(perWriter[w], count) << "writer " << w;
    // The writers really ran at the same time: their records are interleaved.
    EXPECT_GT(switches, 4 * kWriters);
    printf("[ info ] %u changes of writer between neighbouring records\n", switches);
}

TEST_F(GTraceConcurrency, CircularBufferHoldsOnlyWholeRecords) {
    const Uint32 count = 100000;
    const Uint32 bufferSize = 0x80000;  // wraps about 60 times
    run(GTRACE_MODE_CIRCULAR, bufferSize, count);
    ASSERT_FALSE(HasFatalFailure());

    const Uint32 next = nextSequence(view_);
    const Uint32 n = slotCount(view_);
    EXPECT_GE(next, kWriters * slotsOfWriter(count));
    Uint32 accepted = 0, broken = 0;
    for (Uint32 i = 0; i < n;) {
        const Slotted s = slotAt(view_, i);
        const bool start = s.marker == 0xCAFE && s.slots >= 1 && s.slots <= 2048 &&
                           i + s.slots <= n && (s.sequence & (n - 1)) == i &&
                           next - s.sequence <= n &&
                           s.whole;
        if (!start) {
            ++i;
            continue;
        }
        Uint32 w, number;
        if (checkRecord(s, &w, &number)) ++accepted;
        else ++broken;
        i += s.slots;
    }
    EXPECT_EQ(broken, 0u);
    // All but the few slots abandoned at the end of the buffer hold a record of the last lap.
    EXPECT_GT(accepted, n / 2);
}
