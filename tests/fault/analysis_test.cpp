// Error analysis: the selection rules, the summary, and the record written after the handler's
// for real requests.
#include <windows.h>

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
constexpr Uint32 kCreateFile = 0x0814006F;
constexpr Uint32 kFnMemAlloc = 0x081A0058;
constexpr Uint32 kFnFileOpen = 0x081A0002;
constexpr Uint32 kFnIOAnalysis = 0x081A00AD;
constexpr Uint32 kFnMemoryAnalysis = 0x081A00AE;

TEST(ErrorAnalysis, SelectionRules)
{
    EXPECT_TRUE(isCRuntimeName(kOpen, "open"));
    EXPECT_TRUE(isCRuntimeName(0x0814009D, "_stat"));
    EXPECT_FALSE(isCRuntimeName(kCreateFile, "CreateFile"));
    EXPECT_FALSE(isCRuntimeName(0x081A0002, "open"));  // not the operating-system component

    struct Case {
        const char* name;
        Uint32 call, error;
        bool crt;
        Uint32 io, memory;
    } cases[] = {
        {"Win32 error 8", kMalloc, 8, true, 0, 0},
        {"Win32 call, error 12 means something else", kCreateFile, 12, false, 0, 0},
        {"out of memory", kMalloc, 12, true, kUserInfo | kUlimit | kMemoryInfo, kUlimit | kMemoryInfo},
        {"too many files", kOpen, 24, true, kUserInfo | kUlimit | kTargetFile, kUlimit},
        {"disk full", kOpen, 28, true, kUserInfo | kUlimit | kTargetFile | kFileSystem, kUlimit},
        {"open denied", kOpen, 13, true, kUserInfo | kPathAccess, 0},
        {"open through a file", kOpen, 20, true, kUserInfo | kTargetFile | kPathAccess, 0},
        {"open not found", kOpen, 2, true, 0, 0},
        {"read, any error", kRead, 5, true, kUserInfo | kTargetFile | kIoAttempt, 0},
        {"mmap denied", 0x08140022, 13, true, kTargetFile, 0},
        {"ftruncate invalid", 0x08140013, 22, true, kUserInfo | kTargetFile, 0},
        {"fork again", 0x08140010, 11, true, kUserInfo | kUlimit, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.io, selectIO(c.call, c.error, c.crt));
        EXPECT_EQ(c.memory, selectMemory(c.error, c.crt));
    }
}

TEST(ErrorAnalysis, SummaryAndAllocationComparison)
{
    char text[kSummaryMax + 1];
    summaryText(kUlimit | kMemoryInfo, text);
    EXPECT_STREQ("A total of 5 analysis will be performed :\n - ulimit info\n - Memory info\n", text);
    const size_t n = summaryText(0x7F, text);
    EXPECT_STREQ("A total of 10 analysis will be performed :\n - User info\n - ulimit info\n"
                 " - Memory info\n - Target file info\n - I/O attempt\n"
                 " - Path access permission\n - File system\n",
                 text);
    EXPECT_EQ(strlen(text), n);

    // 5000 MB does not fit in 32 bits of bytes: a 32-bit comparison would call it 904 MB.
    Uint64 bytes = 0;
    EXPECT_FALSE(allocationExceeds(0xFFFFFFF0u, 5000, &bytes));
    EXPECT_EQ(5000ull * 1048576ull, bytes);
    EXPECT_TRUE(allocationExceeds(0xFFFFFFF0u, 1000, &bytes));
    EXPECT_FALSE(allocationExceeds(1048576u, 1, &bytes));
}

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

TEST(ErrorAnalysis, PathWalkStopsQuietlyAtAMissingDirectory)
{
    ossetest::TempDir dir;
    const std::string target = dir.file("missing\\deeper\\file.txt");
    Capture c;
    OSSErrorContext ctx;
    ctx.init();
    ctx.setTargetFileName(target.c_str());
    ossSystemErrorHandler(kFnFileOpen, kOpen, 13, 20, 5, 0, &ctx, 0);
    ASSERT_EQ(2u, g_records.size());
    EXPECT_EQ(kFnFileOpen, g_records[0].functionId);
    EXPECT_EQ(1, c.count(kFnIOAnalysis));
    const std::string all = joined(g_records[1]);
    EXPECT_NE(std::string::npos, all.find("A total of 2 analysis will be performed :\n - User info\n"
                                          " - Path access permission\n"));
    EXPECT_NE(std::string::npos, all.find("Real / Effective user and group ID info is N/A on this platform."));
    // The folder that exists is listed; the missing one ends the walk without a claim that a
    // directory could not be read.
    EXPECT_NE(std::string::npos, all.find(":777 (" + dir.path() + "\\)")) << all;
    EXPECT_EQ(std::string::npos, all.find("missing")) << all;
    EXPECT_EQ(std::string::npos, all.find("Cannot descend")) << all;

    // A relative target is made full first.
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    SetCurrentDirectoryA(dir.path().c_str());
    g_records.clear();
    ctx.init();
    ctx.setTargetFileName("missing\\file.txt");
    ossSystemErrorHandler(kFnFileOpen, kOpen, 1, 20, 5, 0, &ctx, 0);
    SetCurrentDirectoryA(cwd);
    ASSERT_EQ(2u, g_records.size());
    EXPECT_NE(std::string::npos, joined(g_records[1]).find("(" + dir.path() + "\\)"));
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
    EXPECT_NE(std::string::npos, all.find("\n Target file = " + target));
    EXPECT_NE(std::string::npos, all.find("Target File Information :")) << all;
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
    EXPECT_NE(std::string::npos, handled.find("\n Target file handle = " +
                                              std::to_string((int)(uintptr_t)h) + "\n"))
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

}  // namespace
