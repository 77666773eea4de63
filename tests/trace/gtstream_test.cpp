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

TEST(TraceStream, KillingTheStreamerReleasesTheWriters) {
    ossetest::TempDir dir;
    const std::string name = "osse-kill-" + std::to_string(GetCurrentProcessId());
    SegmentFile segment(name);
    ASSERT_EQ(runTool("trace on " + name + " --mode autodump --size 512K"), 0);
    Process streamer;
    ASSERT_TRUE(streamer.start(tool("trace stream " + name + " \"" + dir.file("k.dmp") + "\"")));
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
    streamer.kill();
    ASSERT_EQ(streamer.wait(10000), 9);
    // Several laps with nobody draining: the writers find the dumper gone and go on.
    ossetest::Child second;
    ASSERT_TRUE(second.start("streamWriter", {name, "1", std::to_string(kPerWriter)}));
    EXPECT_EQ(second.wait(60000), 0);
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
