// Stream dumps: writer processes bound to a named auto-dump trace while ossetool drains it.
#include "dump_helpers.h"

#include "osse/ecf.h"
#include "osse_test.h"

#include <windows.h>

#include <map>
#include <string>

using namespace tracetest;

namespace {

// A started process of any program.
struct Process {
    PROCESS_INFORMATION pi = {};
    bool start(const std::string& cmd) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::string line = cmd;
        return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
    }
    int wait(DWORD ms) {
        if (WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) return -1;
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        return (int)code;
    }
    void kill() { TerminateProcess(pi.hProcess, 9); }
    ~Process() {
        if (pi.hProcess) {
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
};

std::string tool(const std::string& args) {
    std::string exe = OSSETOOL_EXE;
    // The build records a Unix path; Wine maps the root drive.
    if (!exe.empty() && exe[0] == '/') exe = "Z:" + exe;
    return "\"" + exe + "\" " + args;
}

// Removes the segment file of a named trace when the test ends.
struct SegmentFile {
    std::string path;
    explicit SegmentFile(const std::string& name) {
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        path = std::string(dir) + "ossetrace-" + name + ".gtcb";
    }
    ~SegmentFile() { DeleteFileA(path.c_str()); }
};

int runTool(const std::string& args) {
    Process p;
    return p.start(tool(args)) ? p.wait(60000) : -2;
}

// The named trace's ring buffer, mapped for the lifetime of the object.
struct Ring {
    GTCB* cb = nullptr;
    explicit Ring(const std::string& name) { gtraceOpenNamed(name.c_str(), &cb); }
    ~Ring() {
        if (cb) gtraceCloseNamed(cb);
    }
    Uint8* bytes() const { return reinterpret_cast<Uint8*>(cb) + GTCB_SIZE; }
    volatile Uint32* word(Uint32 offset) const { return reinterpret_cast<volatile Uint32*>(bytes() + offset); }
    Uint32 dumperPid() const { return *word(RAMBO_DUMPER_PID_OFFSET); }
    Uint32 undrained() const { return *word(RAMBO_UNDRAINED_SLOTS_OFFSET); }
};

// Waits (bounded) until the streamer process has placed its chunk walker: writers started
// before that do not wait for it.
bool streamerReady(const std::string& name, const Process& streamer) {
    Ring ring(name);
    if (!ring.cb) return false;
    for (int i = 0; i < 30000; ++i) {
        if (ring.dumperPid() == streamer.pi.dwProcessId) return true;
        if (WaitForSingleObject(streamer.pi.hProcess, 0) == WAIT_OBJECT_0) return false;
        Sleep(1);
    }
    return false;
}

// Every record of writer `w` once and in order among the ids, `count` of them.
void expectWriterComplete(const std::vector<Uint32>& ids, Uint32 w, Uint32 count) {
    Uint32 next = 0;
    for (Uint32 id : ids) {
        if (id >> 20 != w) continue;
        ASSERT_EQ(id & 0xFFFFF, next) << "writer " << w << ": each record once, in order";
        ++next;
    }
    EXPECT_EQ(next, count) << "writer " << w;
}

constexpr Uint32 kWriters = 3;
constexpr Uint32 kPerWriter = 3000;  // 2 slots each: several laps of a 512 KiB buffer

}  // namespace

// args: trace name, writer number, records. Each record carries (writer << 20 | i).
OSSE_CHILD_ROLE(streamWriter) {
    if (args.size() != 3) return 90;
    if (gtraceAttachNamed(args[0].c_str(), GetCurrentProcessId(), nullptr, nullptr, nullptr) != 0) return 91;
    const Uint32 w = (Uint32)atoi(args[1].c_str()), n = (Uint32)atoi(args[2].c_str());
    for (Uint32 i = 0; i < n; ++i) writeRecord(w << 20 | i);
    gtraceDetach();
    return 0;
}

TEST(TraceStream, WritersLoseNoRecordWhileOssetoolDrains) {
    ossetest::TempDir dir;
    const std::string name = "osse-stream-" + std::to_string(GetCurrentProcessId());
    SegmentFile segment(name);
    ASSERT_EQ(runTool("trace on " + name + " --mode autodump --size 512K"), 0);
    const std::string file = dir.file("s.dmp");
    Process streamer;
    ASSERT_TRUE(streamer.start(tool("trace stream " + name + " \"" + file + "\" --count " +
                                    std::to_string(kWriters * kPerWriter))));
    ASSERT_TRUE(streamerReady(name, streamer));
    std::vector<ossetest::Child> writers(kWriters);
    for (Uint32 w = 0; w < kWriters; ++w)
        ASSERT_TRUE(writers[w].start("streamWriter", {name, std::to_string(w), std::to_string(kPerWriter)}));
    for (auto& c : writers) EXPECT_EQ(c.wait(60000), 0);
    ASSERT_EQ(streamer.wait(60000), 0);

    const Parsed p = parseFile(file, true);
    ASSERT_EQ(p.openRc, 0u);
    std::map<Uint32, Uint32> next;  // writer -> next expected i
    for (Uint32 id : idsOf(p)) {
        const Uint32 w = id >> 20, i = id & 0xFFFFF;
        ASSERT_EQ(i, next[w]) << "writer " << w << ": each record once, in order";
        ++next[w];
    }
    for (Uint32 w = 0; w < kWriters; ++w) EXPECT_EQ(next[w], kPerWriter) << "writer " << w;
}

// args: trace name. Reserves a slot of the named ring and ends without publishing it, as a
// writer killed between the two would.
OSSE_CHILD_ROLE(reserveAndVanish) {
    if (args.size() != 1) return 90;
    GTCB* cb = nullptr;
    if (gtraceOpenNamed(args[0].c_str(), &cb) != 0) return 91;
    RamboControlBlock* ring = reinterpret_cast<RamboControlBlock*>(reinterpret_cast<Uint8*>(cb) + GTCB_SIZE);
    RamboReservation token{};
    if (ramboReserveOneSlot(ring, &token) == nullptr) return 92;
    TerminateProcess(GetCurrentProcess(), 0);
    return 93;
}

// A writer that died between reservation and publication leaves its chunk short of full for
// good: the streamer drains it all the same once the writers publish past it, so the stream
// goes on and the other writers neither wait for good nor lose a record.
TEST(TraceStream, AWriterThatDiedBeforePublishingStopsNeitherStreamNorWriters) {
    ossetest::TempDir dir;
    const std::string name = "osse-hole-" + std::to_string(GetCurrentProcessId());
    SegmentFile segment(name);
    ASSERT_EQ(runTool("trace on " + name + " --mode autodump --size 512K"), 0);
    const std::string file = dir.file("h.dmp");
    Process streamer;
    ASSERT_TRUE(streamer.start(tool("trace stream " + name + " \"" + file + "\" --count " +
                                    std::to_string(kWriters * kPerWriter))));
    ASSERT_TRUE(streamerReady(name, streamer));
    ossetest::Child vanished;
    ASSERT_TRUE(vanished.start("reserveAndVanish", {name}));
    ASSERT_EQ(vanished.wait(30000), 0);
    std::vector<ossetest::Child> writers(kWriters);
    for (Uint32 w = 0; w < kWriters; ++w)
        ASSERT_TRUE(writers[w].start("streamWriter", {name, std::to_string(w), std::to_string(kPerWriter)}));
    // Bounds that end well inside the test's time when the writers do wait (3 s when they don't).
    for (auto& c : writers) EXPECT_EQ(c.wait(20000), 0) << "a writer waited for the dead writer's chunk";
    ASSERT_EQ(streamer.wait(20000), 0);

    const Parsed p = parseFile(file, true);
    ASSERT_EQ(p.openRc, 0u);
    std::map<Uint32, Uint32> next;  // writer -> next expected i
    for (Uint32 id : idsOf(p)) {
        const Uint32 w = id >> 20, i = id & 0xFFFFF;
        ASSERT_EQ(i, next[w]) << "writer " << w << ": each record once, in order";
        ++next[w];
    }
    for (Uint32 w = 0; w < kWriters; ++w) EXPECT_EQ(next[w], kPerWriter) << "writer " << w;
}

TEST(TraceStream, KillingTheStreamerReleasesTheWriters) {
    ossetest::TempDir dir;
    const std::string name = "osse-kill-" + std::to_string(GetCurrentProcessId());
    SegmentFile segment(name);
    ASSERT_EQ(runTool("trace on " + name + " --mode autodump --size 512K"), 0);
    Process streamer;
    ASSERT_TRUE(streamer.start(tool("trace stream " + name + " \"" + dir.file("k.dmp") + "\"")));
    ASSERT_TRUE(streamerReady(name, streamer));
    // Fill chunk 0 and wait until the streamer drained it: it runs as the trace's dumper.
    ossetest::Child first;
    ASSERT_TRUE(first.start("streamWriter", {name, "0", "1100"}));
    EXPECT_EQ(first.wait(60000), 0);
    GTCB* cb = nullptr;
    ASSERT_EQ(gtraceOpenNamed(name.c_str(), &cb), 0u);
    const RamboControlBlock* ring = reinterpret_cast<RamboControlBlock*>(reinterpret_cast<Uint8*>(cb) + GTCB_SIZE);
    const volatile RamboChunk* chunk0 =
        reinterpret_cast<const RamboChunk*>(reinterpret_cast<const Uint8*>(ring) + ring->chunkTableOffset);
    for (int i = 0; i < 20000 && chunk0->lap == 0; ++i) Sleep(1);
    EXPECT_EQ(chunk0->lap, 1u);
    gtraceCloseNamed(cb);
    std::string info;
    ASSERT_EQ(ossetest::runProgram(OSSETOOL_EXE, "trace info " + name, &info), 0) << info;
    EXPECT_NE(info.find("streamer:     process " + std::to_string(streamer.pi.dwProcessId) + " registered"),
              std::string::npos) << info;
    streamer.kill();
    ASSERT_EQ(streamer.wait(10000), 9);
    // A streamer that is gone is not shown as registered.
    ASSERT_EQ(ossetest::runProgram(OSSETOOL_EXE, "trace info " + name, &info), 0) << info;
    EXPECT_NE(info.find("streamer:     none"), std::string::npos) << info;
    // Several laps with nobody draining: the writers find the dumper gone and go on.
    ossetest::Child second;
    ASSERT_TRUE(second.start("streamWriter", {name, "1", std::to_string(kPerWriter)}));
    EXPECT_EQ(second.wait(60000), 0);
}

// Auto-dump mode switched on by the tool, and nobody streaming: writers go on around the ring
// and count the slots they put over chunks nobody drained.
TEST(TraceStream, WritersWithoutAStreamerGoOn) {
    const std::string name = "osse-nostream-" + std::to_string(GetCurrentProcessId());
    SegmentFile segment(name);
    ASSERT_EQ(runTool("trace on " + name + " --mode autodump --size 512K"), 0);
    std::vector<ossetest::Child> writers(2);
    for (Uint32 w = 0; w < 2; ++w)
        ASSERT_TRUE(writers[w].start("streamWriter", {name, std::to_string(w), std::to_string(kPerWriter)}));
    for (auto& c : writers) EXPECT_EQ(c.wait(60000), 0);
    Ring ring(name);
    ASSERT_NE(ring.cb, nullptr);
    // 12,000 slots into 8,192: the second lap went over undrained chunks.
    EXPECT_GE(ring.undrained(), 2u * kPerWriter * 2 - 8192);
}

// A registered dumper counts only as long as that very process runs: its id alone may have been
// given to another process since. Here the id is a running process (this one) with another
// start time, and the ring's lock is held as by a tool killed inside a dump call: the writers
// neither wait for the chunks nor for the lock.
TEST(TraceStream, AReusedDumperIdAndAHeldLockDoNotStopWriters) {
    const std::string name = "osse-reused-" + std::to_string(GetCurrentProcessId());
    SegmentFile segment(name);
    ASSERT_EQ(runTool("trace on " + name + " --mode autodump --size 512K"), 0);
    {
        Ring ring(name);
        ASSERT_NE(ring.cb, nullptr);
        const Uint64 otherStart = 1;
        memcpy(ring.bytes() + RAMBO_DUMPER_START_OFFSET, &otherStart, 8);
        *ring.word(RAMBO_DUMPER_PID_OFFSET) = GetCurrentProcessId();
        ring.bytes()[offsetof(RamboControlBlock, lock)] = 0x80;
        ossetest::Child writer;
        // 12,000 slots: the second lap meets chunks the registered dumper never drained.
        ASSERT_TRUE(writer.start("streamWriter", {name, "0", std::to_string(2 * kPerWriter)}));
        EXPECT_EQ(writer.wait(60000), 0);
        EXPECT_EQ(ring.dumperPid(), 0u) << "the stale registration is dropped";
    }
}

// A second stream session on the same trace, after the first one ended and writers went on
// without a streamer for several laps, drains everything its writers write.
TEST(TraceStream, ASecondStreamSessionStreams) {
    ossetest::TempDir dir;
    const std::string name = "osse-restream-" + std::to_string(GetCurrentProcessId());
    SegmentFile segment(name);
    ASSERT_EQ(runTool("trace on " + name + " --mode autodump --size 512K"), 0);
    {
        Process first;
        ASSERT_TRUE(first.start(tool("trace stream " + name + " \"" + dir.file("1.dmp") + "\" --count 1000")));
        ASSERT_TRUE(streamerReady(name, first));
        ossetest::Child writer;
        ASSERT_TRUE(writer.start("streamWriter", {name, "0", "1000"}));
        EXPECT_EQ(writer.wait(60000), 0);
        ASSERT_EQ(first.wait(60000), 0);
    }
    ossetest::Child unstreamed;
    ASSERT_TRUE(unstreamed.start("streamWriter", {name, "1", std::to_string(kPerWriter * 2)}));
    ASSERT_EQ(unstreamed.wait(60000), 0);

    const std::string file = dir.file("2.dmp");
    Process second;
    ASSERT_TRUE(second.start(tool("trace stream " + name + " \"" + file + "\"")));
    ASSERT_TRUE(streamerReady(name, second));
    std::vector<ossetest::Child> writers(kWriters);
    for (Uint32 w = 0; w < kWriters; ++w)
        ASSERT_TRUE(writers[w].start("streamWriter", {name, std::to_string(2 + w), std::to_string(kPerWriter)}));
    for (auto& c : writers) EXPECT_EQ(c.wait(60000), 0);
    // Switching the trace off ends the stream once what was written is drained.
    ASSERT_EQ(runTool("trace off " + name), 0);
    ASSERT_EQ(second.wait(60000), 0);

    const Parsed p = parseFile(file, true);
    ASSERT_EQ(p.openRc, 0u);
    const std::vector<Uint32> ids = idsOf(p);
    for (Uint32 w = 0; w < kWriters; ++w) expectWriterComplete(ids, 2 + w, kPerWriter);
}

// The lost-call counter of a profile trace starts at 1: info reports the calls lost since.
TEST(TraceInfo, ProfileTraceReportsNoLostCallWhenFresh) {
    const std::string name = "osse-profinfo-" + std::to_string(GetCurrentProcessId());
    SegmentFile segment(name);
    ASSERT_EQ(runTool("trace on " + name + " --mode profile --size 512K"), 0);
    std::string out;
    ASSERT_EQ(ossetest::runProgram(OSSETOOL_EXE, "trace info " + name, &out), 0) << out;
    const size_t at = out.find("lost calls:");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(atoi(out.c_str() + at + 11), 0) << out;
}

// A named trace's file goes with gtraceRemoveNamed. While a process still maps it the system
// either refuses or lets the file go with the last view; the view stays usable meanwhile.
TEST(TraceStream, RemovingANamedTraceTakesItsFile) {
    const std::string name = "osse-remove-" + std::to_string(GetCurrentProcessId());
    SegmentFile segment(name);
    GTraceOptions* o = new GTraceOptions();
    o->bufferSize = 0x80000;
    o->mode = GTRACE_MODE_CIRCULAR;
    GTCB* cb = nullptr;
    ASSERT_EQ(gtraceCreateNamed(name.c_str(), o, &cb), 0u);
    delete o;
    const OSSErr whileMapped = gtraceRemoveNamed(name.c_str());
    EXPECT_EQ(cb->options.bufferSize, 0x80000u);
    gtraceCloseNamed(cb);
    if (whileMapped != 0) {
        EXPECT_EQ(gtraceRemoveNamed(name.c_str()), 0u);
    }
    GTCB* again = nullptr;
    EXPECT_EQ(gtraceOpenNamed(name.c_str(), &again), ECF_FILE_DOESNT_EXIST);
    EXPECT_EQ(gtraceRemoveNamed(name.c_str()), ECF_FILE_DOESNT_EXIST);
    EXPECT_EQ(gtraceRemoveNamed("bad/name"), ECF_INVALID_PARAMETER);
}
