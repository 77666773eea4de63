// Processes: the command line a child really receives, exit codes with the wait flag, children
// that run on, inherited handles, the flag validity table, refused arguments, and handles that
// do not pile up. The children are this test program restarted with a role.
#include "proc_test.h"

#include <cstdio>
#include <cstdlib>
#include <set>

using namespace proctest;

namespace {

constexpr Uint32 kCreate = 0x081A0067, kStart = 0x081A0068;

// "a\0b\0\0": the argument list form of the parameter object.
std::string argList(const std::vector<std::string>& args)
{
    std::string s;
    for (const std::string& a : args) s += a + '\0';
    return s + '\0';
}

std::string readAll(const std::string& path)
{
    std::string data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    fclose(f);
    return data;
}

// This process's environment with one more variable, as a block for the parameter object.
std::string environmentWith(const std::string& entry)
{
    std::string env;
    char* block = GetEnvironmentStringsA();
    for (const char* p = block; *p; p += strlen(p) + 1) env.append(p, strlen(p) + 1);
    FreeEnvironmentStringsA(block);
    return env + entry + '\0' + '\0';
}

struct ChildRun {
    Uint32 rc;
    unsigned long pid;
    OSSProcessStatus status;
    OSSHProcess object;
};

ChildRun create(const std::string& program, const std::string& args, Uint32 flags,
           Uint32 version = OSS_CURRENT_VERSION, void* environment = nullptr)
{
    ChildRun r;
    r.pid = 0;
    r.status = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    OSSProcessParam p = {version, program.c_str(), args.c_str(), environment, flags};
    r.rc = r.object.create(&p, &r.pid, &r.status);
    return r;
}

ChildRun createChild(const std::vector<std::string>& roleAndArgs, Uint32 flags)
{
    std::vector<std::string> args = roleAndArgs;
    args[0] = "--osse-child=" + args[0];
    return create(exePath(), argList(args), flags);
}

}  // namespace

// ---- Child roles ------------------------------------------------------------------------------

// Writes its process id and its command line, exactly as received, to %OSSE_PROC_OUT%.
OSSE_CHILD_ROLE(cmdline)
{
    (void)args;
    const char* out = getenv("OSSE_PROC_OUT");
    if (!out) return 2;
    FILE* f = fopen(out, "wb");
    if (!f) return 3;
    fprintf(f, "%lu\n%s", (unsigned long)ossProcessID(), GetCommandLineA());
    fclose(f);
    return 0;
}

// Ends with the code given, by returning or through ossProcessExit.
OSSE_CHILD_ROLE(exitwith)
{
    const Uint32 code = (Uint32)strtoul(args.at(0).c_str(), nullptr, 0);
    if (args.size() > 1 && args[1] == "exit") ossProcessExit(code);
    return (int)code;
}

// Waits until the named event is set, then ends with 5.
OSSE_CHILD_ROLE(block)
{
    HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, args.at(0).c_str());
    if (!h) return 2;
    WaitForSingleObject(h, 60000);  // the parent kills it long before
    CloseHandle(h);
    return 5;
}

// Sets the event whose handle value it is given (valid here only when it was inherited).
OSSE_CHILD_ROLE(signal)
{
    HANDLE h = (HANDLE)(uintptr_t)strtoul(args.at(0).c_str(), nullptr, 0);
    return SetEvent(h) ? 0 : 3;
}

// ---- Tests ------------------------------------------------------------------------------------

TEST(Process, ChildReceivesTheCommandLineAsBuilt)
{
    ossetest::TempDir dir;
    const std::string out = dir.file("cmdline.txt");
    std::string env = environmentWith("OSSE_PROC_OUT=" + out);
    const std::string exe = exePath();
    const std::string role = "--osse-child=cmdline";

    struct Case {
        const char* what;
        std::vector<std::string> args;  // after the role
        std::string tail;               // what follows the quoted program and the role
    };
    const Case cases[] = {
        {"no further arguments", {}, ""},
        {"plain", {"-a", "b"}, " -a b"},
        {"spaces inside an argument go as they are", {"two  words", " lead"}, " two  words  lead"},
        {"quotes go as they are", {"\"quoted arg\"", "say=\"hi\""}, " \"quoted arg\" say=\"hi\""},
        {"backslashes go as they are", {"C:\\dir\\", "a\\\\b", "\\\""}, " C:\\dir\\ a\\\\b \\\""},
        {"an empty text ends the list", {"x", "", "never"}, " x"},
        {"an empty first text gives the role only", {"", "never"}, ""},
        {"two quotes stand for an empty argument", {"\"\"", "y"}, " \"\" y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {role};
        args.insert(args.end(), c.args.begin(), c.args.end());
        DeleteFileA(out.c_str());
        ChildRun r = create(exe, argList(args), OSS_PROCESS_WAIT, OSS_CURRENT_VERSION, &env[0]);
        ASSERT_EQ(r.rc, 0u);
        ASSERT_EQ(r.status.exitCode, 0u);
        EXPECT_EQ(readAll(out),
                  std::to_string(r.pid) + "\n\"" + exe + "\" " + role + c.tail);
    }

    // A program that begins with a quote is used as it is; one with spaces in its path is run
    // through its quotes (a copy of this program in a folder with a blank in its name).
    const std::string spaced = dir.path() + "\\with blank";
    ASSERT_TRUE(CreateDirectoryA(spaced.c_str(), nullptr));
    const std::string copy = spaced + "\\copy of test.exe";
    ASSERT_TRUE(CopyFileA(exe.c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((exeDir() + "\\NRVOSSE.dll").c_str(), (spaced + "\\NRVOSSE.dll").c_str(),
                          FALSE));
    for (const std::string& program : {copy, "\"" + copy + "\""}) {
        SCOPED_TRACE(program);
        DeleteFileA(out.c_str());
        ChildRun r = create(program, argList({role, "-a", "b"}), OSS_PROCESS_WAIT, OSS_CURRENT_VERSION,
                       &env[0]);
        ASSERT_EQ(r.rc, 0u);
        EXPECT_EQ(readAll(out), std::to_string(r.pid) + "\n\"" + copy + "\" " + role + " -a b");
    }
}

TEST(Process, WaitFlagDeliversTheExitCode)
{
    struct Case {
        Uint32 flags;
        std::vector<std::string> child;
        Uint32 exitCode;
    };
    const Case cases[] = {
        {OSS_PROCESS_WAIT, {"exitwith", "0"}, 0},
        {OSS_PROCESS_WAIT, {"exitwith", "42"}, 42},
        {OSS_PROCESS_WAIT, {"exitwith", "0xC0000005"}, 0xC0000005u},
        {OSS_PROCESS_WAIT, {"exitwith", "33", "exit"}, 33},
        {OSS_PROCESS_WAIT | OSS_PROCESS_DETACHED, {"exitwith", "7"}, 7},
        {OSS_PROCESS_WAIT | OSS_PROCESS_INHERIT, {"exitwith", "8"}, 8},
        {OSS_PROCESS_WAIT | OSS_PROCESS_FLAG3, {"exitwith", "9"}, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << ", " << c.child[1]);
        ChildRun r = createChild(c.child, c.flags);
        ASSERT_EQ(r.rc, 0u);
        EXPECT_EQ(r.status.exitCode, c.exitCode);
        EXPECT_EQ(r.status.reserved1, 0u);
        EXPECT_EQ(r.status.reserved2, 0u);
        EXPECT_NE(r.pid, 0u);
        EXPECT_EQ(r.object.started, 1);
        EXPECT_EQ(r.object.waiting, 0);
        EXPECT_EQ(r.object.mode, c.flags);
        EXPECT_EQ(r.object.handle, INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(ossProcessID(), GetCurrentProcessId());
    EXPECT_EQ(ossProcessParentID(), 0xFFFFFFFFu);
}

// Without the wait flag create returns while the child runs; with or without a console the child
// goes on by itself and is waited for here through its id.
TEST(Process, WithoutTheWaitFlagTheChildRunsOn)
{
    for (Uint32 flags : {0u, (Uint32)OSS_PROCESS_DETACHED}) {
        SCOPED_TRACE(flags);
        const std::string name = "osse_proc_gate_" + std::to_string(GetCurrentProcessId()) + "_" +
                                 std::to_string(flags);
        HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
        ASSERT_NE(gate, nullptr);
        ChildRun r = createChild({"block", name}, flags);
        ASSERT_EQ(r.rc, 0u);
        EXPECT_EQ(r.status.exitCode, 0xFFFFFFFFu) << "no wait, no status";
        EXPECT_EQ(r.object.handle, INVALID_HANDLE_VALUE);
        HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, r.pid);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(WaitForSingleObject(child, 0), (DWORD)WAIT_TIMEOUT);
        SetEvent(gate);
        EXPECT_EQ(WaitForSingleObject(child, 30000), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(child, &code));
        EXPECT_EQ(code, 5u);
        CloseHandle(child);
        CloseHandle(gate);
    }
}

TEST(Process, InheritFlagHandsOverInheritableHandles)
{
    for (bool inherit : {true, false}) {
        SCOPED_TRACE(inherit ? "inherit" : "no inherit");
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        HANDLE ev = CreateEventA(&sa, TRUE, FALSE, nullptr);
        ASSERT_NE(ev, nullptr);
        ChildRun r = createChild({"signal", std::to_string((uintptr_t)ev)},
                            OSS_PROCESS_WAIT | (inherit ? OSS_PROCESS_INHERIT : 0));
        ASSERT_EQ(r.rc, 0u);
        // Judged by the event itself: a child without it might still hit some handle of its own.
        EXPECT_EQ(WaitForSingleObject(ev, 0) == WAIT_OBJECT_0, inherit);
        if (inherit) {
            EXPECT_EQ(r.status.exitCode, 0u);
        }
        CloseHandle(ev);
    }
}

// Every value from 0 to 63 and two beyond, in current and old parameter objects. Accepted values
// reach the start step, which fails here on a program that does not exist.
TEST(Process, FlagValidityTable)
{
    const std::set<Uint32> accepted = {0,  1,  2,  3,  4,  5,  6,  7,  10, 16, 17, 18,
                                       19, 20, 21, 22, 23, 26, 32, 33, 34, 35, 36, 37,
                                       38, 39, 42};
    ossetest::TempDir dir;
    const std::string missing = dir.file("no such program.exe");
    std::vector<Uint32> values;
    for (Uint32 v = 0; v < 64; ++v) values.push_back(v);
    values.push_back(64);
    values.push_back(0x80000002u);

    LogCapture log;
    for (Uint32 version : {(Uint32)OSS_CURRENT_VERSION, 0x09070000u}) {
        const bool old = version < 0x09080000u;
        for (Uint32 flags : values) {
            SCOPED_TRACE(testing::Message() << "version " << std::hex << version << ", flags "
                                            << flags);
            const Uint32 used = old ? flags & ~0x20u : flags;
            const bool ok = accepted.count(used) != 0;
            ChildRun r = create(missing, "", flags, version);
            auto records = log.take();
            ASSERT_FALSE(records.empty());
            EXPECT_EQ(r.object.started, 0);
            if (ok) {
                EXPECT_NE(r.rc, ECF_INVALID_PARAMETER);
                EXPECT_EQ(records[0].functionId, kStart);
                EXPECT_EQ(records[0].calledId, 0x0814006Fu);
                EXPECT_EQ(records[0].probe, 40u);
                EXPECT_EQ(r.object.mode, used);
            } else {
                EXPECT_EQ(r.rc, ECF_INVALID_PARAMETER);
                EXPECT_EQ(records[0].functionId, kCreate);
                EXPECT_EQ(records[0].probe, 30u);
            }
        }
    }
}

TEST(Process, RefusedArgumentsAreNeverDereferenced)
{
    const std::string exe = exePath();
    const std::string args = argList({"--osse-child=exitwith", "0"});
    OSSProcessParam good = {OSS_CURRENT_VERSION, exe.c_str(), args.c_str(), nullptr,
                            OSS_PROCESS_WAIT};
    OSSProcessParam oldVersion = good;
    oldVersion.version = OSS_MIN_VERSION - 1;
    OSSProcessParam noProgram = good;
    noProgram.program = nullptr;
    OSSProcessParam noWait = good;
    noWait.flags = 0;

    unsigned long pid = 0;
    OSSProcessStatus status = {};
    struct Case {
        const char* what;
        const OSSProcessParam* param;
        unsigned long* pid;
        OSSProcessStatus* status;
        Uint32 code, probe;
    };
    const Case cases[] = {
        {"null parameter object", nullptr, &pid, &status, ECF_INVALID_PARAMETER, 1111},
        {"old version", &oldVersion, &pid, &status, ECF_INVALID_VERSION, 1112},
        {"null program", &noProgram, &pid, &status, ECF_INVALID_PARAMETER, 30},
        {"null process id", &good, nullptr, &status, ECF_INVALID_PARAMETER, 31},
        {"null process id without wait", &noWait, nullptr, nullptr, ECF_INVALID_PARAMETER, 31},
        {"null status with the wait flag", &good, &pid, nullptr, ECF_INVALID_PARAMETER, 32},
    };
    LogCapture log;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OSSHProcess p;
        EXPECT_EQ(p.create(c.param, c.pid, c.status), c.code);
        EXPECT_EQ(p.started, 0);
        auto records = log.take();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].functionId, kCreate);
        EXPECT_EQ(records[0].probe, c.probe);
    }
    // A null status is fine without the wait flag; the child is then waited for here.
    OSSHProcess p;
    ASSERT_EQ(p.create(&noWait, &pid, nullptr), 0u);
    HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (child) {
        WaitForSingleObject(child, 30000);
        CloseHandle(child);
    }
}

TEST(Process, HandleCountStaysSteadyOverManyCreates)
{
    // A child that loads nothing of the project keeps the hundred starts cheap.
    const std::string child = exeDir() + "\\osse_exitcode.exe";
    // One round first, so that whatever the first create sets up once is counted before.
    ChildRun first = create(child, argList({"0"}), OSS_PROCESS_WAIT);
    ASSERT_EQ(first.rc, 0u);
    const size_t before = openHandles();
    for (int i = 0; i < 100; ++i) {
        ChildRun r = create(child, argList({std::to_string(i)}), OSS_PROCESS_WAIT);
        ASSERT_EQ(r.rc, 0u);
        ASSERT_EQ(r.status.exitCode, (Uint32)i);
    }
    EXPECT_EQ(openHandles(), before);
}

namespace {
constexpr Uint32 kHookCode = 0x9000000D;  // ECF_NO_MEMORY
Uint32 failingAlloc(void**, Uint32, Uint32, Uint32)
{
    return kHookCode;
}
Uint32 plainFree(void** pp)
{
    *pp = nullptr;
    return 0;
}
}  // namespace

// With an allocator that always fails (installed for good, hence in a child): thread and process
// create return its code, log it with their own probe, and start nothing.
OSSE_CHILD_ROLE(allocfail)
{
    (void)args;
    if (ossMemDefineUserAllocAndFreeFunctions(failingAlloc, plainFree) != 0) return 2;
    LogCapture log;

    OSSHThread t;
    const OSSThreadParam tp = {OSS_CURRENT_VERSION, OSS_THREAD_JOINABLE, 0};
    if (t.create([](void*) {}, nullptr, &tp, nullptr) != kHookCode || t.created) return 3;
    auto records = log.take();
    if (records.size() != 1 || records[0].functionId != 0x081A005Bu || records[0].probe != 90 ||
        records[0].messageCode != kHookCode)
        return 4;

    OSSHProcess p;
    const std::string exe = exePath();
    const std::string args0 = argList({"--osse-child=exitwith", "0"});
    const OSSProcessParam pp = {OSS_CURRENT_VERSION, exe.c_str(), args0.c_str(), nullptr, 0};
    unsigned long pid = 0;
    if (p.create(&pp, &pid, nullptr) != kHookCode || p.started || pid != 0) return 5;
    records = log.take();
    if (records.size() != 1 || records[0].functionId != kStart || records[0].probe != 10 ||
        records[0].messageCode != kHookCode)
        return 6;
    return 0;
}

TEST(Process, AllocationFailuresOfThreadAndProcessCreateAreReturned)
{
    EXPECT_EQ(ossetest::runChild("allocfail"), 0);
}
