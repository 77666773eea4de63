// Out-of-memory loops: each representative operation runs with its 1st, 2nd, ... allocation
// failed (full mode's fail-the-nth counter) until a run sees no failure. Every failed run must
// return a code or finish correctly, leave no live block and no open handle behind, and the
// next run must work again. The number of failure points per operation is printed.
#include <stdio.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "mem_test_util.h"

namespace {

size_t openHandles()
{
    size_t n = 0;
    DWORD info;
    for (uintptr_t h = 4; h < 0x2000; h += 4)
        if (GetHandleInformation((HANDLE)h, &info)) ++n;
    return n;
}

Uint32 liveBlocks()
{
    Uint32 n = 0;
    _ossMemGetDebugCounts(nullptr, nullptr, &n);
    return n;
}

// Full mode for this process (idle-mode blocks of the load stay valid: each block keeps the
// layout it was built with); the counter counts this thread only.
struct FullMode {
    Uint32 flags, mode, front, back;
    FullMode()
    {
        _ossMemGetDebug(&flags, &mode, &front, &back);
        EXPECT_EQ(ossMemSetDebug(0xF, OSS_MEM_MODE_FULL, 2, 2), 0u);
    }
    ~FullMode()
    {
        ossMemSetDebugFailAllocation(0, true);
        ossMemSetDebug(flags, mode, front, back);
    }
};

// The operation returns its code and checks its own result when it reports success (so that a
// swallowed failure with a wrong result is caught); the cleanup, run with no failure armed,
// undoes what a successful run made.
using Operation = std::function<Uint32()>;
using Cleanup = std::function<void()>;

bool HasFailure() { return ::testing::Test::HasFailure(); }

// Runs the loop and returns the number of failure points (allocations the operation makes).
Uint32 failureLoop(const char* name, const Operation& op, const Cleanup& cleanup = [] {})
{
    SCOPED_TRACE(name);
    // A first run sets up what the library makes once (and the error log's first failure
    // report), so that it is not counted as left behind.
    const Uint32 expected = op();
    cleanup();
    ossMemSetDebugFailAllocation(1, true);
    void* p = nullptr;
    EXPECT_NE(OSS_MEM_ALLOC(&p, 8, 0), 0u);
    ossMemSetDebugFailAllocation(0, true);

    Uint32 blocks = liveBlocks();
    size_t handles = openHandles();
    for (Uint32 n = 1; n < 100000; ++n) {
        // Runs with allocation n failed; what is left behind compared with before.
        Uint32 rc = 0, failed = 0;
        auto run = [&] {
            EXPECT_EQ(ossMemSetDebugFailAllocation(n, true), 0u);
            rc = op();
            _ossMemGetDebugCounts(nullptr, &failed, nullptr);
            ossMemSetDebugFailAllocation(0, true);
            cleanup();
        };
        run();
        if (liveBlocks() != blocks || openHandles() != handles) {
            // The first failure on a new path may set up something the library keeps (a
            // library loaded for the error analysis, say): the same failure again must then
            // leave nothing more. A second growth is a leak.
            const Uint32 blocks1 = liveBlocks();
            const size_t handles1 = openHandles();
            run();
            EXPECT_EQ(liveBlocks(), blocks1) << "blocks left behind with allocation " << n << " failed";
            EXPECT_EQ(openHandles(), handles1) << "handles left behind with allocation " << n << " failed";
            blocks = liveBlocks();
            handles = openHandles();
        }
        if (failed == 0) {
            EXPECT_EQ(rc, expected) << "run without failure";
            printf("[ failure points ] %-36s %u\n", name, n - 1);
            return n - 1;
        }
        // A failure was given: the operation reports one, or it recovered and its own checks
        // passed. Either way the next run works (the object is not left half made).
        if (HasFailure()) {
            ADD_FAILURE() << "stopped at allocation " << n;
            return n;
        }
        EXPECT_EQ(op(), expected) << "the run after allocation " << n << " failed";
        cleanup();
    }
    ADD_FAILURE() << "no end to the allocations";
    return 0;
}

void writeFile(const std::string& path, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

// Opens a log facility on `path`, logs one record with a string item and closes it.
Uint32 logARecord(const std::string& path)
{
    OSSLogFacOpenParam param = {};
    param.version = OSS_CURRENT_VERSION;
    snprintf(param.path, sizeof param.path, "%s", path.c_str());
    snprintf(param.name, sizeof param.name, "%s", "alloc-failure");
    param.level = 5;
    param.destination = OSS_LOG_DEST_FILE;
    OSSLogFacility f;
    memset(&f, 0, sizeof f);
    if (Uint32 rc = ossLogFacOpen(&param, &f)) return rc;
    const char text[] = "a record";
    const Uint32 rc = ossLog(&f, 0x081A0058u, 0, 1, OSS_LEVEL_ERROR, 1,
                             OSSLogItem{text, (Sint32)sizeof text - 1, OSS_ITEM_STRING});
    EXPECT_EQ(ossLogFacClose(&f), 0u);
    return rc;
}

// Writes a trap file of every section at `path` (made anew).
Uint32 writeTrapFile(const std::string& path)
{
    DeleteFileA(path.c_str());
    OSSTrapFile trap;
    if (Uint32 rc = trap.open(path.c_str(), OSS_PRIMFILE_OPEN_ALWAYS)) return rc;
    trap.initialize(0, nullptr, nullptr, nullptr);
    trap.dump(OSS_TRAP_SECTION_HEADER | OSS_TRAP_SECTION_SYSTEM | OSS_TRAP_SECTION_ENVIRONMENT |
                  OSS_TRAP_SECTION_STACK | OSS_TRAP_SECTION_MODULES,
              0, nullptr, nullptr);
    trap.close();
    const std::string bytes = memtest::readFile(path);
    EXPECT_EQ(bytes.substr(0, 8), std::string(OSS_TRAP_EYECATCHER, 8));
    return 0u;
}

}  // namespace

TEST(AllocFailure, QueueCreateAttachAndAMessage)
{
    FullMode full;
    static int round = 0;
    const Operation op = [] {
        char key[64];
        snprintf(key, sizeof key, "af%lu_%d", GetCurrentProcessId(), ++round);
        OSSIPCGetResIDParam rp;
        rp.path = key;
        rp.id = 7;
        OSSIPCQueueCreateParam cp;
        if (Uint32 rc = ossIPCGetQueResID(&rp, &cp.queResId)) return rc;
        cp.maxBytes = 4096;
        OSSHIPCQueue owner, user;
        if (Uint32 rc = owner.create(&cp)) {
            EXPECT_FALSE(owner.isAttached());
            return rc;
        }
        Uint32 rc = user.attach(&cp.queResId);
        if (rc == 0) {
            char text[] = "hello";
            char got[16] = {};
            unsigned int len = 0;
            rc = user.put(text, sizeof text);
            if (rc == 0) rc = owner.get(got, sizeof got, &len, 1000);
            if (rc == 0) {
                EXPECT_EQ(std::string(got), "hello");
            }
            user.detach();
        } else {
            EXPECT_FALSE(user.isAttached());
        }
        EXPECT_EQ(owner.destroy(), 0u);
        return rc;
    };
    failureLoop("queue create, attach, put, get", op);
}

TEST(AllocFailure, DirectoryListingOfThousandsOfEntries)
{
    FullMode full;
    ossetest::TempDir dir;
    const Uint32 kFiles = 3000;
    for (Uint32 i = 0; i < kFiles; ++i) {
        char name[32];
        snprintf(name, sizeof name, "entry-with-a-longer-name-%05u.txt", i);
        HANDLE h = CreateFileA(dir.file(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    const std::string path = dir.path();
    const Operation op = [&] {
        OSSDirectoryListing l;
        OSSDirectoryListingParam p = {OSS_CURRENT_VERSION, path.c_str(), OSS_LIST_FILES, 0};
        const Uint32 rc = l.begin(&p);
        if (rc) {
            EXPECT_FALSE(l.active);
            EXPECT_EQ(l.head, nullptr);
            return rc;
        }
        Uint32 seen = 0;
        while (l.getNext()) ++seen;
        EXPECT_EQ(seen, kFiles);
        EXPECT_EQ(l.getNumberOfFiles(), kFiles);
        return l.end();
    };
    failureLoop("directory listing (3000 entries)", op);
}

TEST(AllocFailure, TreeCopyAndDelete)
{
    FullMode full;
    ossetest::TempDir dir;
    const std::string from = dir.file("from"), to = dir.file("to");
    std::string at = from;
    for (int depth = 0; depth < 4; ++depth) {
        ASSERT_TRUE(CreateDirectoryA(at.c_str(), nullptr));
        writeFile(at + "\\f.txt", "level " + std::to_string(depth));
        ASSERT_TRUE(CreateDirectoryA((at + "\\side").c_str(), nullptr));
        writeFile(at + "\\side\\g.txt", "side");
        at += "\\d";
    }
    const Operation copy = [&] {
        const Uint32 rc = ossDirectoryCopy(from.c_str(), to.c_str());
        if (rc) {
            EXPECT_FALSE(ossPathExists(to.c_str())) << "a failed copy leaves nothing";
            return rc;
        }
        EXPECT_TRUE(ossIsFile((to + "\\d\\d\\d\\f.txt").c_str()));
        EXPECT_TRUE(ossIsFile((to + "\\d\\d\\d\\side\\g.txt").c_str()));
        return rc;
    };
    const OSSDirectoryDeleteParam dp = {OSS_CURRENT_VERSION, to.c_str(), OSS_DIR_DELETE_CONTENTS};
    const Cleanup removeCopy = [&] {
        if (ossPathExists(to.c_str())) {
            EXPECT_EQ(ossDirectoryDelete(&dp), 0u);
        }
    };
    failureLoop("directory tree copy (4 levels)", copy, removeCopy);

    // Deleting the tree: a failure leaves part of it, which a second delete removes.
    const Operation remove = [&] {
        const Uint32 rc = ossDirectoryDelete(&dp);
        if (rc == 0) {
            EXPECT_FALSE(ossPathExists(to.c_str()));
        }
        return rc;
    };
    const Cleanup restore = [&] {
        if (ossPathExists(to.c_str())) {
            EXPECT_EQ(ossDirectoryDelete(&dp), 0u);
        }
        EXPECT_EQ(ossDirectoryCopy(from.c_str(), to.c_str()), 0u);
    };
    restore();
    failureLoop("directory tree delete (4 levels)", remove, restore);
}

TEST(AllocFailure, ProcessCreateAndWait)
{
    FullMode full;
    char cmd[MAX_PATH];
    GetSystemDirectoryA(cmd, sizeof cmd);
    const std::string program = std::string(cmd) + "\\cmd.exe";
    const Operation op = [&] {
        OSSProcessParam p = {OSS_CURRENT_VERSION, program.c_str(), "/c\0exit\0" "7\0\0", nullptr,
                             OSS_PROCESS_WAIT};
        OSSHProcess proc;
        unsigned long pid = 0;
        OSSProcessStatus status = {};
        const Uint32 rc = proc.create(&p, &pid, &status);
        if (rc == 0) {
            EXPECT_EQ(status.exitCode, 7u);
        }
        return rc;
    };
    failureLoop("process create and wait", op);
}

TEST(AllocFailure, SystemInformationQueries)
{
    FullMode full;
    const Operation cpu = [] {
        OSSCPUInfo info;
        return ossGetCPUInfo(&info);
    };
    const Operation caches = [] {
        OSSCPUCacheTopologyParam p = {OSS_CURRENT_VERSION, 0, nullptr, 0, 0};
        Uint32 rc = ossGetCPUCacheTopology(&p);
        if (rc != ECF_BUFFER_TOO_SMALL) return rc;
        std::vector<OSSCPUCacheInfo> list(p.count);
        p.capacity = p.count;
        p.caches = list.data();
        return ossGetCPUCacheTopology(&p);
    };
    const Operation usage = [] {
        OSSCPUUsageInfo c;
        c.interval = 10;
        return ossGetCPUUsage(&c);
    };
    const Operation raw = [] {
        OSSRawCPUUsageInfo r;
        return ossGetRawCPUUsage(&r);
    };
    const Operation disk = [] {
        OSSDiskInfo d;
        OSSGetDiskInfoParam p = {OSS_CURRENT_VERSION, "C:\\", &d};
        return ossGetDiskInfo(&p);
    };
    failureLoop("ossGetCPUInfo", cpu);
    failureLoop("ossGetCPUCacheTopology", caches);
    failureLoop("ossGetCPUUsage", usage);
    failureLoop("ossGetRawCPUUsage", raw);
    failureLoop("ossGetDiskInfo", disk);
}

TEST(AllocFailure, LogFacilityOpenAndARecord)
{
    FullMode full;
    ossetest::TempDir dir;
    const std::string path = dir.file("af.log");
    const Operation op = [&] { return logARecord(path); };
    failureLoop("log facility open and a record", op);
}

TEST(AllocFailure, TrapFile)
{
    FullMode full;
    ossetest::TempDir dir;
    const std::string path = dir.file("af.trap");
    const Operation op = [&] { return writeTrapFile(path); };
    failureLoop("trap file", op);
}

TEST(AllocFailure, TraceInitialisationAndADump)
{
    FullMode full;
    ossetest::TempDir dir;
    const std::string dump = dir.file("af.dmp");
    static int round = 0;
    const Operation op = [&] {
        char name[64];
        snprintf(name, sizeof name, "af%lu_%d", GetCurrentProcessId(), ++round);
        GTraceOptions options;
        options.bufferSize = 512u << 10;
        options.mode = GTRACE_MODE_CIRCULAR;
        GTCBType* block = nullptr;
        if (OSSErr rc = gtraceCreateNamed(name, &options, &block)) return (Uint32)rc;
        Uint32 rc = gtraceAttachNamed(name, GetCurrentProcessId(), nullptr, nullptr, nullptr);
        if (rc == 0) {
            gtraceEnable();
            for (Uint32 i = 0; i < 20; ++i) _gtraceMarker(1, 0, 0x081A0058u, i, 0);
            // The dump as the tool writes it, then read back through the library's parser.
            std::vector<Uint8> header(GTRACE_DUMP_HEADER_BUFFER_SIZE);
            void* data = nullptr;
            Uint32 size = 0;
            RamboDumpTail tail;
            rc = gtraceGetDumpHeaderBuffer(true, header.data(), &data, &size);
            if (rc == 0) rc = gtraceGetDumpTail(&tail);
            if (rc == 0) {
                FILE* f = fopen(dump.c_str(), "wb");
                fwrite(header.data(), 1, header.size(), f);
                fwrite(data, 1, size, f);
                fwrite(&tail, 1, sizeof tail, f);
                fclose(f);
            }
            gtraceDetach();
        }
        if (rc == 0) {
            OSSHFile f;
            OSSFileOpenParam p = {OSS_CURRENT_VERSION, dump.c_str(), OSS_FILE_OPEN_EXISTING,
                                  OSS_FILE_ACCESS_READ, 0, 0, 0};
            rc = f.open(&p);
            if (rc == 0) rc = gtraceValidateDumpFile(&f, GTRACE_DUMP_RECORDS);
            f.close();
        }
        gtraceCloseNamed(block);
        gtraceRemoveNamed(name);
        return rc;
    };
    failureLoop("trace initialisation and a dump", op);
}

namespace {

// One run of ossetool with its memory debugging in full mode (leak report at exit) from the
// environment, the nth allocation of the process failed.
struct ToolRun {
    int rc = -1;
    std::string out;
    bool ended = false;    // the tool reached its end and said so in the settings log
    Uint32 counted = 0;    // allocations it made
    Uint32 failed = 0;     // 1 when the nth was one of them
    size_t leaked = 0;     // blocks in its leak report
};

ToolRun runToolFailing(const std::string& args, Uint32 nth)
{
    ossetest::TempDir mem;
    const std::string value = mem.path() + ",LEAKS,FAILALLOC=" + std::to_string(nth);
    SetEnvironmentVariableA("OSSEMEMDBG", value.c_str());
    ToolRun r;
    r.rc = ossetest::runProgram(OSSETOOL_EXE, args, &r.out, 60000);
    SetEnvironmentVariableA("OSSEMEMDBG", nullptr);
    std::istringstream log(memtest::readFile(mem.file("ossememdbg.log")));
    std::string line;
    while (std::getline(log, line)) {
        unsigned pid = 0, counted = 0, failed = 0;
        if (sscanf(line.c_str(), "PID 0x%x at exit: %u allocations, %u failed", &pid, &counted, &failed) == 3) {
            r.ended = true;
            r.counted = counted;
            r.failed = failed;
        }
    }
    for (const std::string& name : memtest::listFiles(mem.path(), "*.mem_leaks.txt")) {
        std::istringstream report(memtest::readFile(mem.file(name)));
        while (std::getline(report, line)) r.leaked += line.compare(0, 5, "Addr:") == 0;
    }
    return r;
}

// The whole-program loop: ossetool with its 1st, 2nd, ... allocation failed until a run makes
// no failure. Each run must end by itself with an exit status (no crash: a crash leaves no end
// line and an exception code), leak nothing and, when no allocation failed, do what a run
// without the counter does. Returns the number of failure points.
Uint32 toolFailureLoop(const std::string& args, const std::function<void()>& cleanup = [] {})
{
    SCOPED_TRACE("ossetool " + args);
    const ToolRun plain = runToolFailing(args, 0xFFFFFFFFu);
    cleanup();
    EXPECT_TRUE(plain.ended) << plain.out;
    EXPECT_EQ(plain.rc, 0) << plain.out;
    EXPECT_EQ(plain.leaked, 0u);
    for (Uint32 n = 1; n <= plain.counted + 64; ++n) {
        const ToolRun r = runToolFailing(args, n);
        cleanup();
        EXPECT_TRUE(r.ended) << "allocation " << n << " failed: exit " << r.rc << "\n" << r.out;
        EXPECT_TRUE(r.rc >= 0 && r.rc < 256) << "allocation " << n << " failed: exit " << r.rc;
        EXPECT_EQ(r.leaked, 0u) << "allocation " << n << " failed";
        if (HasFailure()) return n;
        if (r.failed == 0) {
            EXPECT_EQ(r.rc, plain.rc);
            printf("[ failure points ] %-36s %u\n", ("ossetool " + args).c_str(), n - 1);
            return n - 1;
        }
    }
    ADD_FAILURE() << "no end to the allocations";
    return 0;
}

}  // namespace

// The verbs of the tool that reach the library's allocator: system information, the error-code
// lookup, a log file, a trap file, and a named trace created, dumped, formatted and removed.
TEST(AllocFailure, OssetoolVerbs)
{
    ossetest::TempDir dir;
    // Inputs: a log file with a record, a trap file, a named trace with records and its dump.
    const std::string logPath = dir.file("af.log");
    ASSERT_EQ(logARecord(logPath), 0u);
    const std::string trapPath = dir.file("af.trap");
    ASSERT_EQ(writeTrapFile(trapPath), 0u);
    char name[32], other[32];
    snprintf(name, sizeof name, "af%lu", GetCurrentProcessId());
    snprintf(other, sizeof other, "af%lub", GetCurrentProcessId());
    const std::string dump = dir.file("af.dmp");
    std::string out;
    ASSERT_EQ(ossetest::runProgram(OSSETOOL_EXE, std::string("trace on ") + name + " --size 512K", &out), 0) << out;
    ASSERT_EQ(ossetest::runProgram(OSSETOOL_EXE, std::string("trace workload ") + name + " 1 20", &out), 0) << out;
    ASSERT_EQ(ossetest::runProgram(OSSETOOL_EXE, std::string("trace dump ") + name + " \"" + dump + "\"", &out), 0) << out;

    toolFailureLoop("ecf 0x9000000C");
    toolFailureLoop("sysinfo");
    toolFailureLoop("log \"" + logPath + "\"");
    toolFailureLoop("trap \"" + trapPath + "\"");
    toolFailureLoop(std::string("trace info ") + name);
    toolFailureLoop(std::string("trace dump ") + name + " \"" + dir.file("again.dmp") + "\"");
    toolFailureLoop("trace format \"" + dump + "\"");
    toolFailureLoop(std::string("trace on ") + other + " --size 512K", [&] {
        ossetest::runProgram(OSSETOOL_EXE, std::string("trace remove ") + other, &out);
    });
    ossetest::runProgram(OSSETOOL_EXE, std::string("trace remove ") + name, &out);
}
