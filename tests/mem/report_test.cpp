// Reports of live blocks: the per-thread dump, the leak report, the standard-output form, the
// dump trigger flag, the unload report, and corruption records landing in the per-thread file.
#include <stdio.h>

#include <regex>

#include "mem_test_util.h"

using memtest::lines;
using memtest::readFile;

namespace {

const std::string kStars(76, '*');
const std::string kEquals(76, '=');

std::string hexAddr(const void* p)
{
    // The whole address: 8 digits on i686, 16 on x86_64.
    std::string text;
    const uintptr_t value = (uintptr_t)p;
    for (int shift = 8 * (int)sizeof p - 4; shift >= 0; shift -= 4)
        text += "0123456789abcdef"[(value >> shift) & 0xF];
    return text;
}

std::string addrLine(void* user, Uint32 size, Uint32 line, const char* file)
{
    char buf[160];
    snprintf(buf, sizeof buf, "Addr: %s Code: 0x%x Size: %u Line: %u File: %s",
             hexAddr((Uint8*)user - 16).c_str(), memtest::word(user, -16), size, line, file);
    return buf;
}

std::string perThreadFile(const std::string& dir)
{
    return dir + "\\p" + std::to_string(GetCurrentProcessId()) + "t" +
           std::to_string(GetCurrentThreadId()) + ".mem";
}

std::string leakFile(const std::string& dir)
{
    return dir + "\\" + std::to_string(GetCurrentProcessId()) + "." +
           std::to_string(GetCurrentThreadId()) + ".mem_leaks.txt";
}

// Points the memory debug path at a scratch folder for one test.
class MemReport : public ::testing::Test {
protected:
    void SetUp() override { setPath(dir.path()); }
    void TearDown() override
    {
        setPath("");
        ossMemSetDebug(0, OSS_MEM_MODE_IDLE, 0, 0);
    }
    static void setPath(const std::string& path)
    {
        snprintf(g_szMemDebugLogPath, sizeof g_szMemDebugLogPath, "%s", path.c_str());
    }
    void* alloc(Uint32 size, Uint32 line)
    {
        void* p = nullptr;
        EXPECT_EQ(_ossMemAlloc(&p, 0, size, 0, "C:\\src\\report_test.cpp", line), OSS_OK);
        return p;
    }
    static void release(void* p) { EXPECT_EQ(_ossMemFree(&p, 0, 0, "r", 1), OSS_OK); }
    ossetest::TempDir dir;
};

}  // namespace

TEST_F(MemReport, DumpFlagWritesThePerThreadDumpBeforeTheNextAllocation)
{
    ASSERT_EQ(ossMemSetDebug(0xF, OSS_MEM_MODE_FULL, 2, 2), OSS_OK);
    void* a = alloc(24, 100);
    void* b = alloc(40, 200);
    g_bDumpMemAllocListFlag = 1;
    void* c = alloc(8, 300);
    EXPECT_EQ(g_bDumpMemAllocListFlag, 0);

    const std::vector<std::string> expected = {kStars, "OSSe Unfreed Memory Blocks :", kEquals,
                                               addrLine(b, 40, 200, "report_test.cpp"),
                                               addrLine(a, 24, 100, "report_test.cpp"), kEquals};
    EXPECT_EQ(lines(readFile(perThreadFile(dir.path()))), expected);

    // The release path honours the flag too, and dumps accumulate in the same file.
    std::vector<std::string> twice = expected;
    std::vector<std::string> second = {kStars, "OSSe Unfreed Memory Blocks :", kEquals,
                                       addrLine(c, 8, 300, "report_test.cpp"),
                                       addrLine(b, 40, 200, "report_test.cpp"),
                                       addrLine(a, 24, 100, "report_test.cpp"), kEquals};
    g_bDumpMemAllocListFlag = 1;
    release(c);
    twice.insert(twice.end(), second.begin(), second.end());
    EXPECT_EQ(lines(readFile(perThreadFile(dir.path()))), twice);
    release(a);
    release(b);
}

TEST_F(MemReport, LeakReportHasTheSupportHeaderAndNewestBlockFirst)
{
    ASSERT_EQ(ossMemSetDebug(0x2F, OSS_MEM_MODE_FULL, 2, 2), OSS_OK);
    void* a = alloc(16, 11);
    void* b = alloc(32, 22);
    EXPECT_EQ(_ossMemAllocList("r", 1, true), OSS_OK);

    const std::string text = readFile(leakFile(dir.path()));
    const std::string header =
        kStars + "\r\n" +
        "NRV Support and Development can generate a report of possible memory leaks\r\n"
        "using the following command from any uselvl'd build:\r\n"
        "perl -S nrvreportleaks -path " + dir.path() + "\r\n\r\n" +
        "To display all available options, run \"perl -S nrvreportleaks -help\"\r\n" +
        kStars + "\r\n" +
        "Legend:\r\n-------\r\nAddr - block address\r\nCode - block eye-catcher with flags\r\n"
        "Size - size of the block\r\nLine - line of code in a file\r\nFile - file name\r\n" +
        kEquals + "\r\nOSSe Unfreed Memory Blocks :\r\n" + kEquals + "\r\n";
    const std::string body = addrLine(b, 32, 22, "report_test.cpp") + "\r\n" +
                             addrLine(a, 16, 11, "report_test.cpp") + "\r\n" + kEquals + "\r\n";
    EXPECT_EQ(text, header + body);
    EXPECT_FALSE(memtest::fileExists(perThreadFile(dir.path())));
    release(a);
    release(b);
}

TEST_F(MemReport, NothingIsWrittenOutsideFullModeOrForAnEmptyList)
{
    for (Uint32 mode : {OSS_MEM_MODE_IDLE, OSS_MEM_MODE_LIGHT}) {
        ASSERT_EQ(ossMemSetDebug(0x2F, mode, 2, 2), OSS_OK);
        void* p = alloc(8, 1);
        EXPECT_EQ(_ossMemAllocList("r", 1, true), OSS_OK);
        release(p);
    }
    ASSERT_EQ(ossMemSetDebug(0xF, OSS_MEM_MODE_FULL, 2, 2), OSS_OK);
    EXPECT_EQ(_ossMemAllocList("r", 1, true), OSS_OK);
    EXPECT_TRUE(memtest::listFiles(dir.path(), "*").size() == 2)
        << "only . and .. in the folder";
}

TEST_F(MemReport, ListReportVerifiesEachBlockWithoutChangingIt)
{
    ASSERT_EQ(ossMemSetDebug(0xF, OSS_MEM_MODE_FULL, 2, 2), OSS_OK);
    Uint8* p = (Uint8*)alloc(5, 1);
    p[6] = 0;
    memtest::Recorder rec;
    EXPECT_EQ(_ossMemAllocList("lister.cpp", 77, true), OSS_OK);
    std::vector<memtest::Failure> found = rec.take();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].expression, "Back Uint8 memory pad corruption found at:");
    EXPECT_EQ(found[0].file, "lister.cpp");
    EXPECT_EQ(found[0].line, 77u);
    EXPECT_EQ(found[0].dumpDir, dir.path());
    EXPECT_EQ(p[6], 0);
    p[6] = 0xCC;
    release(p);
    EXPECT_TRUE(rec.texts().empty());
}

TEST_F(MemReport, CorruptionRecordLandsInThePerThreadFile)
{
    ASSERT_EQ(ossMemSetDebug(0, OSS_MEM_MODE_LIGHT, 0, 0), OSS_OK);
    Uint8* p = (Uint8*)alloc(3, 1);
    p[4] = 0;
    release(p);
    const std::string text = readFile(perThreadFile(dir.path()));
    const std::regex record(
        "NON-FATAL ASSERTION FAILED!!!\r\nTime       = [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d "
        "\\d\\d:\\d\\d:\\d\\d \\d{4}\nExpr       = Back memory pad corruption found at:\r\n"
        "PID        = " + std::to_string(GetCurrentProcessId()) + "\r\nTID        = " +
        std::to_string(GetCurrentThreadId()) + "\r\nFile       = r\r\nLine       = 1\r\n");
    EXPECT_TRUE(std::regex_match(text, record)) << text;
}

TEST_F(MemReport, TerminateWritesTheLeakReportOnlyWhenAskedAndAPathIsSet)
{
    ASSERT_EQ(ossMemSetDebug(0x2F, OSS_MEM_MODE_FULL, 2, 2), OSS_OK);
    void* p = alloc(8, 5);
    EXPECT_FALSE(ossMemIsMemFFDCAndOSSeMemDebugPathSet());
    EXPECT_EQ(ossTerminate(), OSS_OK);
    EXPECT_FALSE(memtest::fileExists(leakFile(dir.path())));

    ossMemSetMemFFDCEnabledFlag();
    EXPECT_EQ(g_bIsMemoryFFDCEnabledFlag, 1);
    setPath("");
    EXPECT_FALSE(ossMemIsMemFFDCAndOSSeMemDebugPathSet());
    setPath(dir.path());
    EXPECT_TRUE(ossMemIsMemFFDCAndOSSeMemDebugPathSet());
    EXPECT_EQ(ossTerminate(), OSS_OK);
    std::vector<std::string> got = lines(readFile(leakFile(dir.path())));
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[got.size() - 2], addrLine(p, 8, 5, "report_test.cpp"));
    g_bIsMemoryFFDCEnabledFlag = 0;
    release(p);
}

// Reports to standard output: the child sends its standard output to the file named by its
// first argument. Second argument: "stdout" (toFile false), "file" (toFile true, no path),
// "badpath" or "badpath-leaks" (toFile true, a folder that does not exist).
OSSE_CHILD_ROLE(mem_list_to_stdout)
{
    if (!freopen(args.at(0).c_str(), "w", stdout)) return 2;
    const std::string how = args.at(1);
    if (how.compare(0, 7, "badpath") == 0)
        snprintf(g_szMemDebugLogPath, sizeof g_szMemDebugLogPath, "%s", "C:\\no\\such\\folder");
    const Uint32 flags = how == "badpath-leaks" ? 0x2F : 0xF;
    if (ossMemSetDebug(flags, OSS_MEM_MODE_FULL, 1, 1) != OSS_OK) return 3;
    void* a = nullptr;
    void* b = nullptr;
    _ossMemAlloc(&a, 0, 12, 0, "one.cpp", 1);
    _ossMemAlloc(&b, 0, 20, 0, "two.cpp", 2);
    printf("a=%p b=%p\n", (Uint8*)a - 16, (Uint8*)b - 16);
    _ossMemAllocList("r", 1, how != "stdout");
    fflush(stdout);
    return 0;
}

TEST(MemReportStdout, WithoutAWritableFileTheAddressLinesGoToStandardOutput)
{
    ossetest::TempDir dir;
    struct Case {
        const char* how;
        bool headerLines;  // the per-thread dump's three header lines, when its file failed
    } cases[] = {{"stdout", false}, {"file", false}, {"badpath", true}, {"badpath-leaks", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        const std::string out = dir.file(std::string(c.how) + ".txt");
        ASSERT_EQ(ossetest::runChild("mem_list_to_stdout", {out, c.how}, {"OSSEMEMDBG="}), 0);
        std::vector<std::string> got = lines(readFile(out));
        ASSERT_GE(got.size(), 1u);
        char a[32], b[32];
        ASSERT_EQ(sscanf(got[0].c_str(), "a=%31s b=%31s", a, b), 2);
        std::vector<std::string> expected = {got[0]};
        if (c.headerLines) {
            expected.push_back(kStars);
            expected.push_back("OSSe Unfreed Memory Blocks :");
            expected.push_back(kEquals);
        }
        expected.push_back(std::string("Address: ") + b + " Size: 20 Line: 2 File: two.cpp");
        expected.push_back(std::string("Address: ") + a + " Size: 12 Line: 1 File: one.cpp");
        EXPECT_EQ(got, expected);
    }
}

// ---- The leak report at process exit ------------------------------------------------------
namespace {

DWORD WINAPI holdMemoryLatch(void* held)
{
    g_pMemDebugCB->latch.acquire();
    SetEvent((HANDLE)held);
    Sleep(120000);  // the process exit ends this thread long before
    return 0;
}

}  // namespace

// Leaks one block and exits, with the allocator's latch held by another thread (args[0]
// "held") or free ("free").
OSSE_CHILD_ROLE(mem_exit_with_latch)
{
    void* leaked = nullptr;
    if (_ossMemAlloc(&leaked, 0, 8, 0, "exit.cpp", 7) != OSS_OK || !g_pMemDebugCB) return 2;
    if (args.at(0) == "held") {
        HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!CreateThread(nullptr, 0, holdMemoryLatch, held, 0, nullptr) ||
            WaitForSingleObject(held, 60000) != WAIT_OBJECT_0)
            return 3;
    }
    return 0;
}

// A thread that the exit ends may hold the allocator's latch: the exit still ends, and the leak
// report says why it has no blocks instead of waiting for the latch for good.
TEST(MemReportAtExit, ALatchHeldByAnEndedThreadSkipsTheReportWithAReason)
{
    struct Case {
        const char* latch;
        std::string expected;  // the whole report when exact, else one line of it
        bool exact;
    } cases[] = {
        {"free", "Addr: [0-9a-f]+ Code: 0x7a3055e0 Size: 8 Line: 7 File: exit\\.cpp", false},
        {"held",
         "OSSe Unfreed Memory Blocks not reported: the memory debug latch is held by a thread "
         "that ended with the process.\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.latch);
        ossetest::TempDir dir;
        ossetest::Child child;
        ASSERT_TRUE(child.start("mem_exit_with_latch", {c.latch},
                                {"OSSEMEMDBG=" + dir.path() + ",LEAKS"}));
        const unsigned long pid = child.pid();
        ASSERT_EQ(0, child.wait(60000)) << "the child did not exit";

        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA(dir.file("*.mem_leaks.txt").c_str(), &found);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        FindClose(h);
        const std::string name = found.cFileName;
        EXPECT_EQ(0u, name.find(std::to_string(pid) + ".")) << name;
        const std::string text = readFile(dir.file(name));
        if (c.exact) {
            EXPECT_EQ(c.expected, text);
        } else {
            bool seen = false;
            for (const std::string& line : lines(text))
                seen |= std::regex_match(line, std::regex(c.expected));
            EXPECT_TRUE(seen) << text;
        }
    }
}
