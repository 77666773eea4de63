// Error analysis: the record written after the handler's for real requests (the selection
// rules and the summary: analysis_rules_test.cpp).
#include <windows.h>

#include <malloc.h>
#include <stdarg.h>
#include <string.h>

#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"
#include "../../src/diag/analysis_rules.h"

namespace {

using namespace osse_analysis;

constexpr Uint32 kMalloc = 0x08140020;
constexpr Uint32 kOpen = 0x0814002B;
constexpr Uint32 kRead = 0x0814004B;
constexpr Uint32 kFnMemAlloc = 0x081A0058;
constexpr Uint32 kFnFileOpen = 0x081A0002;
constexpr Uint32 kFnIOAnalysis = 0x081A00AD;
constexpr Uint32 kFnMemoryAnalysis = 0x081A00AE;

// ---- Records -------------------------------------------------------------------------------
struct Seen {
    Uint32 functionId, failedCall, probe;
    std::vector<std::string> strings;
};
std::vector<Seen> g_records;
bool g_reenter = false;

Uint32 capture(OSSLogFacility*, Uint32 functionId, Uint32 calledId, Uint32, Uint32, Uint32 probe,
               Uint32, Uint32, Sint32 count, va_list* items)
{
    Seen s{functionId, calledId, probe, {}};
    for (Sint32 i = 0; i < count; ++i) {
        const OSSLogItem item = va_arg(*items, OSSLogItem);
        if (item.type == OSS_ITEM_STRING) s.strings.emplace_back((const char*)item.p, item.size);
    }
    g_records.push_back(s);
    if (g_reenter && (functionId == kFnIOAnalysis || functionId == kFnMemoryAnalysis)) {
        // A failure while the analysis writes its record: reported, but not analysed again.
        g_reenter = false;
        OSSErrorContext ctx;
        ctx.init();
        ctx.setAllocationSize(100);
        ossSystemErrorHandler(kFnMemAlloc, kMalloc, 12, 50, 5, 0, &ctx, 0);
    }
    return 0;
}

struct Capture {
    Capture()
    {
        g_records.clear();
        ossSetOSSeLogCallback(capture);
    }
    ~Capture() { ossSetOSSeLogCallback(nullptr); }
    int count(Uint32 functionId) const
    {
        int n = 0;
        for (const Seen& s : g_records) n += s.functionId == functionId;
        return n;
    }
};

std::string joined(const Seen& s)
{
    std::string all;
    for (const std::string& t : s.strings) all += t;
    return all;
}

TEST(ErrorAnalysis, MemoryFailureRecordFollowsTheHandlers)
{
    Capture c;
    OSSErrorContext ctx;
    ctx.init();
    ctx.setAllocationSize(0xFFFFFFF0u);
    ossSystemErrorHandler(kFnMemAlloc, kMalloc, 12, 40, 5, 0, &ctx, 0);
    ASSERT_GE(g_records.size(), 2u);
    EXPECT_EQ(kFnMemAlloc, g_records[0].functionId);
    // The memory queries may note on the way what they cannot read here (a missing performance
    // counter); the analysis record is the last one, and the only one.
    EXPECT_EQ(1, c.count(kFnMemoryAnalysis));
    const Seen& a = g_records.back();
    EXPECT_EQ(kFnMemoryAnalysis, a.functionId);
    EXPECT_EQ(kMalloc, a.failedCall);
    EXPECT_EQ(100u, a.probe);
    ASSERT_FALSE(a.strings.empty());
    EXPECT_EQ("A total of 5 analysis will be performed :\n - ulimit info\n - Memory info\n",
              a.strings[0]);
    const std::string all = joined(a);
    // Whether 4 GiB - 16 bytes exceed what is available depends on the process: a 32-bit one
    // never has that much address space left, a 64-bit one may have that much memory free.
    // The record says so exactly when the memory report does.
    OSSMemInfo memory;
    Uint64 availableBytes = 0;
    const bool exceeds = ossGetPhysMemInfo(&memory) == 0 && memory.available.status == 0 &&
                         allocationExceeds(0xFFFFFFF0u, memory.available.value, &availableBytes);
    if (sizeof(void*) == 4) {
        EXPECT_TRUE(exceeds);
    }
    EXPECT_EQ(exceeds, all.find("Attempt to allocate 4294967280 bytes when only ") !=
                           std::string::npos)
        << all;
    EXPECT_EQ(exceeds, all.find("bytes is available.") != std::string::npos) << all;
    // The memory reports are those of the system-information queries.
    EXPECT_NE(std::string::npos, all.find("System RAM information (in megabytes) :")) << all;
    EXPECT_NE(std::string::npos, all.find("Virtual Memory Information (in megabytes) :")) << all;

    // The same size with a Win32 error: nothing selected, no analysis record.
    g_records.clear();
    ossSystemErrorHandler(kFnMemAlloc, kMalloc, 8, 40, 5, 0, &ctx, 0);
    EXPECT_EQ(1u, g_records.size());
}

// The path walk's text, from the record of an open that was denied on target.
std::string pathWalkFor(const std::string& target)
{
    Capture c;
    OSSErrorContext ctx;
    ctx.init();
    ctx.setTargetFileName(target.c_str());
    ossSystemErrorHandler(kFnFileOpen, kOpen, 13, 20, 5, 0, &ctx, 0);
    if (g_records.size() != 2 || g_records[1].functionId != kFnIOAnalysis) return "(no record)";
    for (const std::string& text : g_records[1].strings)
        if (text.compare(0, 12, "Information ") == 0) return text;
    return "(no path walk)";
}

TEST(ErrorAnalysis, PathWalkListsTheDirectoriesUpToWhereItStops)
{
    ossetest::TempDir dir;
    const std::string d = dir.path();
    ASSERT_TRUE(CreateDirectoryA((d + "\\sub").c_str(), nullptr));
    HANDLE h = CreateFileA((d + "\\sub\\file.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);

    const std::string sub = "   0:0:777 (" + d + "\\sub\\)\n";
    const std::string cannot = "\n Cannot descend any further than the above subdirectory.";
    // What follows the scratch folder's own line: one line per directory, none for a file.
    struct Case {
        const char* name;
        std::string target, tail;
    } cases[] = {
        {"existing file", d + "\\sub\\file.txt", sub},
        {"missing file in an existing folder", d + "\\sub\\absent.txt", sub},
        {"directory as the target", d + "\\sub", sub},
        {"missing folder on the way", d + "\\missing\\deeper\\file.txt", cannot},
        {"a file on the way", d + "\\sub\\file.txt\\below.txt", sub + cannot},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string walk = pathWalkFor(c.target);
        ASSERT_EQ(0u, walk.find("Information of each subdirectory leading up to the first "
                                "inaccessible one is shown in the format below :\n"
                                "   <UID>:<GID>:<permissions> (subdirectories)\n\n"))
            << walk;
        const std::string own = ":777 (" + d + "\\)\n";
        const size_t at = walk.find(own);
        ASSERT_NE(std::string::npos, at) << walk;
        EXPECT_EQ(c.tail, walk.substr(at + own.size())) << walk;
    }

    // A relative target is made full first.
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    SetCurrentDirectoryA(d.c_str());
    const std::string relative = pathWalkFor("sub\\file.txt");
    SetCurrentDirectoryA(cwd);
    EXPECT_NE(std::string::npos, relative.find(sub)) << relative;
}

TEST(ErrorAnalysis, ReadAndDiskFullTextsAndTheRecursionGuard)
{
    ossetest::TempDir dir;
    const std::string target = dir.file("data.bin");
    HANDLE h = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(h, "12345", 5, &written, nullptr);
    CloseHandle(h);

    Capture c;
    OSSErrorContext ctx;
    ctx.init();
    ctx.setTargetFileName(target.c_str());
    ctx.setIOSize(5);
    SetLastError(4321);
    ossErrorAnalysis(nullptr);
    OSSErrorAnalysisRequest none = {OSS_CURRENT_VERSION, OSS_ERRANALYSIS_GENERAL, nullptr, 1, 2, kRead, 5, 5, 0, 0};
    ossErrorAnalysis(&none);
    EXPECT_EQ(4321u, GetLastError());
    ossSystemErrorHandler(OSS_FUNC_ID(OSS_FN_OSSHFile_read), kRead, 5, 40, 5, 0, &ctx, 0);
    ASSERT_EQ(2u, g_records.size());
    const std::string all = joined(g_records[1]);
    EXPECT_NE(std::string::npos, all.find("A total of 3 analysis will be performed :\n")) << all;
    EXPECT_NE(std::string::npos, all.find("I/O attempt not implemented yet.\n"));
    // The file's record starts on the line after its name, with no blank line between.
    EXPECT_NE(std::string::npos,
              all.find("\n Target file = " + target + "\nTarget File Information :\n"))
        << all;
    EXPECT_NE(std::string::npos, all.find("  Size               = 5\n")) << all;

    // Only the handle known: the record names it and describes the open file.
    h = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    OSSErrorContext byHandle;
    byHandle.init();
    byHandle.setTargetFileHandle(h);
    g_records.clear();
    ossSystemErrorHandler(OSS_FUNC_ID(OSS_FN_OSSHFile_read), kRead, 5, 40, 5, 0, &byHandle, 0);
    CloseHandle(h);
    ASSERT_EQ(2u, g_records.size());
    const std::string handled = joined(g_records[1]);
    EXPECT_NE(std::string::npos,
              handled.find("\n Target file handle = " + std::to_string((int)(uintptr_t)h) +
                           "\nTarget File Information :\n"))
        << handled;
    EXPECT_NE(std::string::npos, handled.find("  Size               = 5\n")) << handled;

    // A full disk: the file system that holds the target is described.
    g_records.clear();
    ossSystemErrorHandler(OSS_FUNC_ID(OSS_FN_OSSHFile_write), 0x08140067, 28, 40, 5, 0, &ctx, 0);
    ASSERT_EQ(2u, g_records.size());
    const std::string full = joined(g_records[1]);
    EXPECT_NE(std::string::npos, full.find(" - File system\n")) << full;
    EXPECT_NE(std::string::npos, full.find("File System Information of the target file :")) << full;
    EXPECT_NE(std::string::npos, full.find("  Free size         = ")) << full;
    EXPECT_NE(std::string::npos, full.find("Resource limits")) << full;

    // A failure reported from the log callback while the analysis writes its record is a
    // nested log request: dropped, so it is neither logged nor analysed.
    g_records.clear();
    g_reenter = true;
    ossSystemErrorHandler(OSS_FUNC_ID(OSS_FN_OSSHFile_read), kRead, 5, 40, 5, 0, &ctx, 0);
    EXPECT_FALSE(g_reenter) << "the callback saw the analysis record";
    EXPECT_EQ(1, c.count(kFnIOAnalysis));
    EXPECT_EQ(0, c.count(kFnMemAlloc));
    EXPECT_EQ(0, c.count(kFnMemoryAnalysis));
    // The guard is per analysis, not for good.
    g_records.clear();
    ossSystemErrorHandler(OSS_FUNC_ID(OSS_FN_OSSHFile_read), kRead, 5, 40, 5, 0, &ctx, 0);
    EXPECT_EQ(1, c.count(kFnIOAnalysis));
}

// The guard that keeps an analysis from analysing its own failures needs no memory: the memory
// analysis runs right after malloc failed. A thread's first analysis runs here while another
// thread holds the C runtime's heap, and must come back.
struct FirstAnalysis {
    HANDLE ready, go, done;
    OSSErrorAnalysisRequest request;
};

DWORD WINAPI runFirstAnalysis(void* arg)
{
    FirstAnalysis& a = *(FirstAnalysis*)arg;
    SetEvent(a.ready);
    if (WaitForSingleObject(a.go, 60000) != WAIT_OBJECT_0) return 1;
    ossErrorAnalysis(&a.request);
    SetEvent(a.done);
    return 0;
}

TEST(ErrorAnalysis, GuardNeedsNoHeapOnAThreadsFirstAnalysis)
{
    // Error 8 from malloc selects nothing: only the guard runs.
    FirstAnalysis a = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                       CreateEventA(nullptr, TRUE, FALSE, nullptr),
                       CreateEventA(nullptr, TRUE, FALSE, nullptr),
                       {OSS_CURRENT_VERSION, OSS_ERRANALYSIS_MEMORY, nullptr, kFnMemAlloc, 40,
                        kMalloc, 8, 5, 0, 0}};
    HANDLE thread = CreateThread(nullptr, 0, runFirstAnalysis, &a, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(a.ready, 60000));
    const HANDLE crtHeap = (HANDLE)_get_heap_handle();
    ASSERT_TRUE(HeapLock(crtHeap));
    SetEvent(a.go);
    const DWORD analysed = WaitForSingleObject(a.done, 30000);
    HeapUnlock(crtHeap);
    EXPECT_EQ(WAIT_OBJECT_0, analysed) << "the analysis waited for the heap";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 60000));
    for (HANDLE h : {thread, a.ready, a.go, a.done}) CloseHandle(h);
}

}  // namespace
