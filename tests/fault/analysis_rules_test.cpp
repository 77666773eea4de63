// Error analysis: which facts are gathered for a failure, the summary the record opens with,
// and the allocation comparison.
#include <string.h>

#include "osse/osse.h"
#include "osse_test.h"
#include "../../src/diag/analysis_rules.h"

namespace {

using namespace osse_analysis;

constexpr Uint32 kMalloc = 0x08140020;
constexpr Uint32 kOpen = 0x0814002B;
constexpr Uint32 kRead = 0x0814004B;
constexpr Uint32 kCreateFile = 0x0814006F;

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

}  // namespace
