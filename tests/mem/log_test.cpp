// What the allocator writes to the diagnostic log: a release of a null address, and a failed
// malloc handed to the system error handler and analysed.
#include <stdarg.h>

#include "mem_test_util.h"

namespace {

struct Request {
    Uint32 functionId, calledId, code, messageCode, probe, level, flags;
    Sint32 count;
    std::vector<OSSLogItem> items;
    std::vector<std::string> strings;  // string items' text
};
std::vector<Request> g_requests;

Uint32 capture(OSSLogFacility*, Uint32 functionId, Uint32 calledId, Uint32 code,
               Uint32 messageCode, Uint32 probe, Uint32 level, Uint32 flags, Sint32 count,
               va_list* items)
{
    Request r{functionId, calledId, code, messageCode, probe, level, flags, count, {}, {}};
    for (Sint32 i = 0; i < count && i < 8; ++i) {
        OSSLogItem item = va_arg(*items, OSSLogItem);
        r.items.push_back(item);
        r.strings.push_back(item.type == OSS_ITEM_STRING
                                ? std::string((const char*)item.p, (size_t)item.size)
                                : std::string());
    }
    g_requests.push_back(r);
    return 0;
}

class MemLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_requests.clear();
        ossSetOSSeLogCallback(capture);
    }
    void TearDown() override { ossSetOSSeLogCallback(nullptr); }
};

}  // namespace

TEST_F(MemLog, ReleasingANullAddressIsLoggedWithTheCallersPlace)
{
    void* null = nullptr;
    EXPECT_EQ(_ossMemFree(&null, 0, 0, "C:\\src\\caller.cpp", 321), ECF_MEM_NULL_POINTER);
    ASSERT_EQ(g_requests.size(), 1u);
    const Request& r = g_requests[0];
    EXPECT_EQ(r.functionId, 0x081A0059u);
    EXPECT_EQ(r.messageCode, ECF_MEM_NULL_POINTER);
    ASSERT_EQ(r.count, 1);
    EXPECT_EQ(r.items[0].type, OSS_ITEM_STRING);
    EXPECT_EQ(r.strings[0],
              "NULL pointer for memory allocation address found at: C:\\src\\caller.cpp, line 321");
}

TEST_F(MemLog, FailedMallocGoesThroughTheSystemErrorHandler)
{
    struct Case {
        Uint32 mode, size;
    } cases[] = {
        {OSS_MEM_MODE_IDLE, 0x7FFFFFF0u},   // malloc itself fails
        {OSS_MEM_MODE_FULL, 0xFFFFFFF0u},   // the padded total does not fit in 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        g_requests.clear();
        ASSERT_EQ(ossMemSetDebug(0, c.mode, 2, 2), OSS_OK);
        // 2 GiB are had for the asking in a 64-bit process: there only the padded total that
        // does not fit in 32 bits fails.
        if (sizeof(void*) == 8 && c.mode == OSS_MEM_MODE_IDLE) continue;
        void* p = (void*)0x5678;
        const Uint32 rc = _ossMemAlloc(&p, 0, c.size, OSS_MEM_ALLOC_FLAGGED, "big.cpp", 1);
        EXPECT_NE(rc, OSS_OK);
        EXPECT_EQ(p, (void*)0x5678) << "*ppMem unchanged";
        ASSERT_GE(g_requests.size(), 1u) << "the handler's record (analysis records may follow)";
        const Request& r = g_requests[0];
        EXPECT_EQ(r.functionId, 0x081A0058u);
        EXPECT_EQ(r.calledId, 0x08140020u) << "malloc";
        EXPECT_EQ(r.probe, 40u);
        EXPECT_EQ(r.messageCode, rc) << "the handler's code is returned";
        EXPECT_TRUE(r.flags & OSS_LOG_FLAG_OSERR);
        EXPECT_EQ(r.code, 12u) << "malloc's error is errno (ENOMEM), not the last Win32 error";

        // Out of memory is analysed: one memory-analysis record after the handler's (the
        // memory queries it runs may note first what they cannot read here), announcing
        // resource limits and the four memory reports, and naming the allocation.
        int analyses = 0;
        for (const Request& q : g_requests) analyses += q.functionId == 0x081A00AEu;
        EXPECT_EQ(analyses, 1);
        ASSERT_GE(g_requests.size(), 2u);
        const Request& a = g_requests.back();
        EXPECT_EQ(a.functionId, 0x081A00AEu);
        EXPECT_EQ(a.calledId, 0x08140020u);
        EXPECT_EQ(a.code, 12u);
        ASSERT_FALSE(a.strings.empty());
        EXPECT_EQ(a.strings[0],
                  "A total of 5 analysis will be performed :\n - ulimit info\n - Memory info\n");
        std::string all;
        for (const std::string& s : a.strings) all += s;
        // The allocation is named when it exceeds what is available: always in a 32-bit
        // process (its available memory is its address space); a 64-bit one may have more
        // memory free than the 4 GiB the padded total asked for.
        // The total asked of malloc: the idle layout adds 32 bytes; a total that does not fit
        // in 32 bits is reported as 0xFFFFFFFF.
        const Uint64 asked =
            c.mode == OSS_MEM_MODE_FULL ? 0xFFFFFFFFull : ((c.size + 7ull) & ~7ull) + 32;
        OSSMemInfo memory;
        const bool exceeds = ossGetPhysMemInfo(&memory) == 0 && memory.available.status == 0 &&
                             asked > memory.available.value * 1024ull * 1024ull;
        if (sizeof(void*) == 4) {
            EXPECT_TRUE(exceeds);
        }
        EXPECT_EQ(exceeds, all.find("Attempt to allocate ") != std::string::npos) << all;
        EXPECT_EQ(exceeds, all.find(" bytes is available.") != std::string::npos) << all;
    }
    ossMemSetDebug(0, OSS_MEM_MODE_IDLE, 0, 0);
}
