// Kernel object names: the name a key gives in every process, the version rules of the fields
// added later, refusals that leave the record untouched, and the queue's three names.
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

struct Refusal {
    Uint32 functionId, code, probe;
};
std::vector<Refusal> g_refusals;

Uint32 captureRefusal(OSSLogFacility*, Uint32 fn, Uint32, Uint32 code, Uint32, Uint32 probe,
                      Uint32, Uint32, Sint32, va_list*)
{
    g_refusals.push_back({fn, code, probe});
    return 0;
}

// Sets the two start-up facts the name depends on for one test, and restores them.
struct PlatformFacts {
    Uint8 vista = g_bIsPlatformID_Vista, global = g_bRunningTerminalServiceRemoteAdminMode;
    PlatformFacts(bool isVista, bool isGlobal)
    {
        g_bIsPlatformID_Vista = isVista;
        g_bRunningTerminalServiceRemoteAdminMode = isGlobal;
        g_refusals.clear();
        ossSetOSSeLogCallback(captureRefusal);
    }
    ~PlatformFacts()
    {
        g_bIsPlatformID_Vista = vista;
        g_bRunningTerminalServiceRemoteAdminMode = global;
        ossSetOSSeLogCallback(nullptr);
    }
};

}  // namespace

TEST(IPCName, NamesFromIdKeyPrefixAndVersion)
{
    struct Case {
        bool vista, global;
        Uint32 version;
        Sint32 id;
        const char* path;
        bool local;
        const char* prefix;
        const char* name;
    } cases[] = {
        {false, false, OSS_IPC_VERSION, 7, "C:\\inst\\node0", false, nullptr, "OSSEIPC7Cinstnode0"},
        {false, true, OSS_IPC_VERSION, 7, "C:\\inst\\node0", false, nullptr, "Global\\OSSEIPC7Cinstnode0"},
        {false, true, OSS_IPC_VERSION, 7, "D:\\a\\b", true, nullptr, "OSSEIPC7Dab"},
        {false, true, 0x09050000u, 7, "k", true, nullptr, "OSSEIPC7k"},
        {false, false, OSS_IPC_VERSION, -3, "k", false, nullptr, "OSSEIPC-3k"},
        // The prefix counts only from its version on, and only on Vista and later; there it
        // replaces the Global\ prefix.
        {true, true, OSS_IPC_VERSION, 7, "k", false, "Session\\ns", "Session\\ns\\OSSEIPC7k"},
        {true, true, 0x09050000u, 7, "k", false, "ns", "Global\\OSSEIPC7k"},
        {false, true, OSS_IPC_VERSION, 7, "k", false, "ns", "Global\\OSSEIPC7k"},
        {true, false, OSS_IPC_VERSION_NAMESPACE, 7, "k", true, "ns", "ns\\OSSEIPC7k"},
        // No key: no name, whatever the id.
        {true, true, OSS_IPC_VERSION, 99, nullptr, false, "ns", ""},
    };
    for (const Case& c : cases) {
        PlatformFacts facts(c.vista, c.global);
        OSSIPCGetResIDParam p;
        p.id = c.id;
        p.path = c.path;
        p.local = c.local;
        p.namespacePrefix = c.prefix;
        OSSIPCResID r;
        r.version = c.version;
        memset(r.name, 'x', sizeof r.name);
        EXPECT_EQ(ossIPCGetResID(&p, &r), 0u) << c.name;
        EXPECT_STREQ(r.name, c.name);
        EXPECT_TRUE(g_refusals.empty());
    }
}

// A name that does not fit is refused whole: a cut key would let two keys name one object.
TEST(IPCName, LongNamesAndBadRecordsAreRefusedUntouched)
{
    PlatformFacts facts(true, false);
    const std::string head = "OSSEIPC1";
    const std::string fits(OSS_IPC_NAME_MAX - head.size(), 'k');
    OSSIPCGetResIDParam p;
    p.id = 1;
    p.path = fits.c_str();
    OSSIPCResID r;
    ASSERT_EQ(ossIPCGetResID(&p, &r), 0u);
    EXPECT_EQ(strlen(r.name), (size_t)OSS_IPC_NAME_MAX);
    EXPECT_EQ(std::string(r.name), head + fits);

    // Separators are skipped before the length is judged.
    const std::string fitsWithSeparators = "\\" + fits + ":";
    p.path = fitsWithSeparators.c_str();
    EXPECT_EQ(ossIPCGetResID(&p, &r), 0u);

    const std::string longer = fits + "k";
    const std::string longPrefix(300, 'p');
    struct Case {
        const char* path;
        const char* prefix;
        Uint32 version;
        bool nullRecord;
        Uint32 code, probe;
    } cases[] = {
        {longer.c_str(), nullptr, OSS_IPC_VERSION, false, ECF_INVALID_PARAMETER, 30},
        {"k", longPrefix.c_str(), OSS_IPC_VERSION, false, ECF_INVALID_PARAMETER, 10},
        {"k", nullptr, 0x09000000u, false, ECF_INVALID_VERSION, 1112},
        {"k", nullptr, OSS_IPC_VERSION, true, ECF_INVALID_PARAMETER, 1111},
    };
    for (const Case& c : cases) {
        g_refusals.clear();
        p.path = c.path;
        p.namespacePrefix = c.prefix;
        p.local = 1;
        OSSIPCResID before;
        before.version = c.version;
        strcpy(before.name, "unchanged");
        OSSIPCResID rec = before;
        EXPECT_EQ(ossIPCGetResID(&p, c.nullRecord ? nullptr : &rec), c.code) << c.probe;
        EXPECT_EQ(memcmp(&rec, &before, sizeof rec), 0);
        ASSERT_EQ(g_refusals.size(), 1u);
        EXPECT_EQ(g_refusals[0].functionId, 0x081A008Du);
        EXPECT_EQ(g_refusals[0].probe, c.probe);
    }
    OSSIPCResID rec;
    g_refusals.clear();
    EXPECT_EQ(ossIPCGetResID(nullptr, &rec), ECF_INVALID_PARAMETER);
    ASSERT_EQ(g_refusals.size(), 1u);
    EXPECT_EQ(g_refusals[0].probe, 1111u);
}

TEST(IPCName, QueueNamesUseThreeConsecutiveIds)
{
    PlatformFacts facts(false, true);
    OSSIPCGetResIDParam p;
    p.id = 40;
    p.path = "q";
    p.local = 1;
    OSSIPCQueResID q;
    ASSERT_EQ(ossIPCGetQueResID(&p, &q), 0u);
    EXPECT_STREQ(q.resID[0].name, "OSSEIPC40q");
    EXPECT_STREQ(q.resID[1].name, "OSSEIPC41q");
    EXPECT_STREQ(q.resID[2].name, "OSSEIPC42q");

    // The first failing inner call ends it: earlier names stay, later records keep what they had.
    OSSIPCQueResID partial;
    partial.resID[1].version = 0x09000000u;
    strcpy(partial.resID[2].name, "untouched");
    p.id = 7;
    EXPECT_EQ(ossIPCGetQueResID(&p, &partial), ECF_INVALID_VERSION);
    EXPECT_STREQ(partial.resID[0].name, "OSSEIPC7q");
    EXPECT_STREQ(partial.resID[2].name, "untouched");

    EXPECT_EQ(ossIPCGetQueResID(&p, nullptr), ECF_INVALID_PARAMETER);
    EXPECT_EQ(ossIPCGetQueResID(nullptr, &q), ECF_INVALID_PARAMETER);
}

TEST(IPCName, KernelInfoAndSeedAreNotSupported)
{
    OSSKernelIPCInfo info;
    EXPECT_EQ(ossGetKernelIPCInfo(&info), ECF_NOT_SUPPORTED);
    for (const OSSSysInfoSint& v : info.limits) EXPECT_EQ(v.status, ECF_NOT_SUPPORTED);
    for (const OSSSysInfoSint64& v : info.limits64) EXPECT_EQ(v.status, ECF_NOT_SUPPORTED);
    for (const OSSSysInfoSint& v : info.moreLimits) EXPECT_EQ(v.status, ECF_NOT_SUPPORTED);
    EXPECT_EQ(ossGetKernelIPCInfo(nullptr), ECF_INVALID_PARAMETER);
    info.version = 0x09000000u;
    info.limits[0].status = 0;
    EXPECT_EQ(ossGetKernelIPCInfo(&info), ECF_INVALID_VERSION);
    EXPECT_EQ(info.limits[0].status, 0u);
    EXPECT_EQ(ossIPCGenerateSeed(), ECF_NOT_SUPPORTED);
}
