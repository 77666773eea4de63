// Log facilities: opening and its checks, level filtering, the callbacks, and the event-log and
// standard-error destinations.
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <thread>

#include "diag_test.h"

using namespace diagtest;

namespace {
constexpr Uint32 kFn = 0x081A0002;  // OSSHFile::open
}

TEST(LogFacility, OpenRejectsBadParameters)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("x.log");
    struct Case {
        const char* what;
        OSSLogFacOpenParam p;
    } cases[] = {
        {"version", openParam(OSS_LOG_DEST_FILE, path)},
        {"destination 3", openParam(3, path)},
        {"destination 0", openParam(0, path)},
        {"level 7", openParam(OSS_LOG_DEST_FILE, path, 7)},
        {"file without path", openParam(OSS_LOG_DEST_FILE, "")},
        {"no name", openParam(OSS_LOG_DEST_STDERR, path, 5, "")},
    };
    cases[0].p.version = OSS_MIN_VERSION - 1;
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        OSSLogFacility f = {};
        EXPECT_EQ(ossLogFacOpen(&c.p, &f), 0x9000000Cu);
        EXPECT_EQ(f.open, 0);
        EXPECT_EQ(ossLog(&f, kFn, 0, 1, 6, 0), 0x9000000Cu);
    }
    EXPECT_EQ(ossLogFacOpen(nullptr, nullptr), 0x9000000Cu);
    EXPECT_FALSE(fileExists(path));

    // A path needs no file for the other destinations.
    OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_STDERR, "", 6);
    OSSLogFacility f = {};
    EXPECT_EQ(ossLogFacOpen(&p, &f), 0u);
    EXPECT_EQ(f.open, 1);
}

TEST(LogFacility, OpenCopiesBoundedSettingsAndReopenReplacesThem)
{
    ossetest::TempDir dir;
    OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_FILE, dir.file("first.log"), 4);
    memset(p.name, 'n', sizeof p.name);  // not terminated: cut at 50 characters
    p.permissions = 0644;
    OSSLogFacility f;
    memset(&f, 0xEE, sizeof f);
    ASSERT_EQ(ossLogFacOpen(&p, &f), 0u);
    EXPECT_EQ(std::string(f.name), std::string(50, 'n'));
    EXPECT_EQ(std::string(f.path), dir.file("first.log"));
    EXPECT_EQ(f.level, 4u);
    EXPECT_EQ(f.destination, OSS_LOG_DEST_FILE);
    EXPECT_EQ(f.permissions, 0644u);
    EXPECT_EQ(f.latch.lockWord, 0);

    OSSLogFacOpenParam q = openParam(OSS_LOG_DEST_FILE, dir.file("second.log"), 5);
    ASSERT_EQ(ossLogFacOpen(&q, &f), 0u);
    EXPECT_EQ(ossLog(&f, kFn, 0, 1, 5, 0), 0u);
    EXPECT_FALSE(fileExists(dir.file("first.log")));
    EXPECT_EQ(cutRecords(readFile(dir.file("second.log"))).size(), 1u);

    EXPECT_EQ(ossLogFacClose(&f), 0u);
    EXPECT_EQ(f.open, 0);
    EXPECT_EQ(ossLog(&f, kFn, 0, 1, 6, 0), 0x9000000Cu);
    EXPECT_EQ(ossLogFacSetLevel(&f, 3), 0x9000000Cu);
    EXPECT_EQ(cutRecords(readFile(dir.file("second.log"))).size(), 1u);
}

TEST(LogFacility, LevelFilter)
{
    struct Case {
        Uint32 filter;
        const char* written;  // record levels 0..6 that get written, as digits
    } cases[] = {
        {4, "12346"}, {6, "6"}, {0, "6"}, {5, "123456"}, {1, "16"}, {2, "16"}, {3, "1236"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "facility level " << c.filter);
        FileLog log(c.filter);
        std::string written;
        for (Uint32 level = 0; level <= 6; ++level) {
            const Uint32 tag = level;
            ASSERT_EQ(ossLog(log.facility(), kFn, 0, 1, level, 1, item(&tag, 4, -3)), 0u);
        }
        for (const std::string& text : log.texts())
            written += text[text.size() - 3];  // the tag's digit before the final "\r\n"
        EXPECT_EQ(written, c.written);
    }
}

TEST(LogFacility, LevelNamesAndLevelTwoAsThree)
{
    FileLog log(6);
    ASSERT_EQ(ossLogFacSetLevel(log.facility(), 100), 0u);  // not range-checked
    const char* names[] = {"Unknown", "Severe", "Error", "Error", "Warning", "Info", "Event",
                           "Unknown"};
    for (Uint32 level = 0; level <= 7; ++level)
        ASSERT_EQ(ossLog(log.facility(), kFn, 0, level, level, 0), 0u);
    std::vector<std::string> texts = log.texts();
    ASSERT_EQ(texts.size(), 7u);  // level 0 is never written
    for (Uint32 level = 1; level <= 7; ++level)
        EXPECT_EQ(texts[level - 1], header(names[level], kFn, level)) << level;

    // At facility level 2, a level-2 record is dropped as level 3.
    FileLog two(2);
    EXPECT_EQ(ossLog(two.facility(), kFn, 0, 1, 2, 0), 0u);
    EXPECT_EQ(ossLog(two.facility(), kFn, 0, 1, 1, 0), 0u);
    EXPECT_EQ(two.texts().size(), 1u);
}

namespace {

Uint16 g_diagLevel;
int g_diagCalls;
void diagLevel(Uint16* level)
{
    ++g_diagCalls;
    *level = g_diagLevel;
}

int g_logCalls;
Uint32 g_logArgs[9];
OSSLogFacility* g_logFacility;
std::vector<OSSLogItem> g_logItems;
Uint32 takeOver(OSSLogFacility* f, Uint32 fn, Uint32 called, Uint32 code, Uint32 msg,
                Uint32 probe, Uint32 level, Uint32 flags, Sint32 count, va_list* items)
{
    ++g_logCalls;
    g_logFacility = f;
    Uint32 args[9] = {fn, called, code, msg, probe, level, flags, (Uint32)count, 0};
    memcpy(g_logArgs, args, sizeof args);
    g_logItems.clear();
    Sint32 n = (flags & OSS_LOG_FLAG_MASK) ? __builtin_popcount((Uint32)count & 0x7FFFFFFF) : count;
    for (Sint32 i = 0; i < n; ++i) g_logItems.push_back(va_arg(*items, OSSLogItem));
    return 0xABCD0000u + (Uint32)g_logCalls;
}

}  // namespace

TEST(LogFacility, DiagLevelCallbackSetsTheFilterLevel)
{
    FileLog log(6);
    g_diagLevel = 3;
    g_diagCalls = 0;
    EXPECT_EQ(ossSetDiagLevelCallback(diagLevel), diagLevel);
    EXPECT_EQ(ossLog(log.facility(), kFn, 0, 1, 4, 0), 0u);
    EXPECT_EQ(ossLog(log.facility(), kFn, 0, 2, 3, 0), 0u);
    EXPECT_EQ(ossSetDiagLevelCallback(nullptr), nullptr);
    EXPECT_EQ(g_diagCalls, 2);
    EXPECT_EQ(log.facility()->level, 3u);
    std::vector<std::string> texts = log.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], header("Error", kFn, 2));
}

TEST(LogFacility, LogCallbackTakesOverEverything)
{
    // The default facility is not open, and no filter applies while the callback is set.
    g_logCalls = 0;
    g_diagCalls = 0;
    ossSetDiagLevelCallback(diagLevel);
    EXPECT_EQ(ossSetOSSeLogCallback(takeOver), takeOver);
    const Uint32 a = 1, b = 2;
    EXPECT_EQ(ossLog(nullptr, kFn, 0x9000000C, 7, 0, 2, item(&a, 4, -1), item(&b, 4, -2)),
              0xABCD0001u);
    Uint32 expect1[9] = {kFn, 0, 0, 0x9000000C, 7, 0, OSS_LOG_FLAG_LOG, 2, 0};
    EXPECT_EQ(memcmp(g_logArgs, expect1, sizeof expect1), 0);
    EXPECT_EQ(g_logFacility, nullptr);
    ASSERT_EQ(g_logItems.size(), 2u);
    EXPECT_EQ(g_logItems[0].p, &a);
    EXPECT_EQ(g_logItems[1].type, -2);

    OSSLogFacility f = {};
    struct Case {
        bool sys;
        Sint32 count;
        Uint32 flags;
    } cases[] = {
        {false, 2, 0},
        {false, 0, OSS_LOG_FLAG_MASK},
        {false, (Sint32)0x80000003u, OSS_LOG_FLAG_MASK},
        {true, 2, OSS_LOG_FLAG_OSERR},
        {true, 0, OSS_LOG_FLAG_OSERR | OSS_LOG_FLAG_MASK},
        {true, (Sint32)0x80000003u, OSS_LOG_FLAG_OSERR | OSS_LOG_FLAG_MASK},
    };
    for (const Case& c : cases) {
        const int before = g_logCalls;
        const Uint32 rc = c.sys ? ossLogSysRC(&f, kFn, 0x08140069, 6, 0x9000000C, 10, 2, c.count,
                                              item(&a, 4, -1), item(&b, 4, -2))
                                : ossLogRC(&f, kFn, 0x081A0058, 0x9000000D, 0, 20, 2, c.count,
                                           item(&a, 4, -1), item(&b, 4, -2));
        EXPECT_EQ(rc, 0xABCD0000u + (Uint32)before + 1);
        EXPECT_EQ(g_logFacility, &f);
        Uint32 expect[9] = {kFn,
                            c.sys ? 0x08140069u : 0x081A0058u,
                            c.sys ? 6u : 0x9000000Du,
                            c.sys ? 0x9000000Cu : 0u,
                            c.sys ? 10u : 20u,
                            2u,  // as requested: level 2 becomes 3 only inside the writer
                            c.flags,
                            (Uint32)c.count,
                            0};
        EXPECT_EQ(memcmp(g_logArgs, expect, sizeof expect), 0) << c.sys << " " << c.count;
        EXPECT_EQ(g_logItems.size(), c.count == 0 ? 0u : 2u);
    }
    EXPECT_EQ(g_diagCalls, 0);
    ossSetDiagLevelCallback(nullptr);
    EXPECT_EQ(ossSetOSSeLogCallback(nullptr), nullptr);
    EXPECT_EQ(ossLog(nullptr, kFn, 0, 7, 6, 0), 0x9000000Cu);  // the closed default again
    EXPECT_EQ(ossSetNodeNumCallback(nullptr), nullptr);
}

TEST(LogFacility, StandardErrorDestination)
{
    ossetest::TempDir dir;
    const std::string capture = dir.file("stderr.txt");
    OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_STDERR, "", 5);
    OSSLogFacility f = {};
    ASSERT_EQ(ossLogFacOpen(&p, &f), 0u);

    fflush(stderr);
    const int saved = _dup(2);
    const int fd = _open(capture.c_str(), _O_CREAT | _O_WRONLY | _O_TRUNC | _O_BINARY, 0600);
    ASSERT_GE(fd, 0);
    _dup2(fd, 2);
    const Uint32 v = 42;
    const Uint32 rc = ossLog(&f, kFn, 0x90000002, 5, 4, 1, item(&v, 4, -3));
    fflush(stderr);
    _dup2(saved, 2);
    _close(saved);
    _close(fd);

    EXPECT_EQ(rc, 0u);
    EXPECT_EQ(maskStamp(readFile(capture), false),
              header("Warning", kFn, 5) + "MESSAGE : ECF=0x90000002 Failed\r\n" +
                  "DATA #1 : Uint32, 4 bytes\r\n42\r\n");
}

TEST(LogFacility, EventLogDestination)
{
    OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_EVENTLOG, "", 5, "osse-test-source");
    OSSLogFacility f = {};
    ASSERT_EQ(ossLogFacOpen(&p, &f), 0u);
    for (Uint32 level : {1u, 2u, 3u, 4u, 5u, 6u})
        EXPECT_EQ(ossLog(&f, kFn, 0, 1, level, 0), 0u) << level;
    // A level outside 1 to 6 has no event type.
    ASSERT_EQ(ossLogFacSetLevel(&f, 7), 0u);
    EXPECT_EQ(ossLog(&f, kFn, 0, 1, 7, 0), 0x90000002u);
    // A destination that is none of the three.
    f.destination = 3;
    EXPECT_EQ(ossLog(&f, kFn, 0, 1, 6, 0), 0x9000000Cu);
}

namespace {
OSSLogFacility* g_nestedTarget;
Uint32 g_nestedRc;
void loggingDiagLevel(Uint16* level)
{
    // Runs inside the writer: a record requested from here is not written and returns 0.
    g_nestedRc = ossLog(g_nestedTarget, kFn, 0, 99, 1, 0);
    *level = 5;
}
}  // namespace

TEST(LogFacility, RecordRequestedWhileWritingOnTheSameThreadIsDropped)
{
    FileLog log;
    OSSLogFacility other = {};
    OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_FILE, log.path(), 5);
    ASSERT_EQ(ossLogFacOpen(&p, &other), 0u);
    for (OSSLogFacility* target : {log.facility(), &other}) {
        g_nestedTarget = target;
        g_nestedRc = 12345;
        ossSetDiagLevelCallback(loggingDiagLevel);
        EXPECT_EQ(ossLog(log.facility(), kFn, 0, 1, 5, 0), 0u);
        ossSetDiagLevelCallback(nullptr);
        EXPECT_EQ(g_nestedRc, 0u);
    }
    std::vector<std::string> texts = log.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], header("Info", kFn, 1));
    EXPECT_EQ(texts[1], header("Info", kFn, 1));
}

namespace {

// A writer held inside its record by a slow diagnostic-level callback, until released.
struct HeldWriter {
    HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~HeldWriter()
    {
        CloseHandle(inside);
        CloseHandle(release);
    }
};
HeldWriter* g_held;
std::atomic<bool> g_holdNext;
void holdingDiagLevel(Uint16* level)
{
    if (g_holdNext.exchange(false)) {
        SetEvent(g_held->inside);
        WaitForSingleObject(g_held->release, 30000);
    }
    *level = 5;
}

OSSLogFacility* g_yieldTarget;
std::atomic<int> g_yieldLogs;
std::atomic<Uint32> g_yieldRc;
HANDLE g_waiterYielded;
Uint32 loggingPreYield()
{
    g_yieldRc = ossLog(g_yieldTarget, kFn, 0, 77, 1, 0);
    ++g_yieldLogs;
    SetEvent(g_waiterYielded);
    return 0;
}

}  // namespace

// A thread waiting for another thread's record runs the host's yield callbacks; a record they
// request is dropped as nested instead of making the wait recurse, and the waiting record is
// written once the writer is done.
TEST(LogFacility, RecordRequestedFromAYieldCallbackWhileWaitingIsDropped)
{
    FileLog log;
    HeldWriter held;
    g_held = &held;
    g_holdNext = true;
    g_yieldTarget = log.facility();
    g_yieldLogs = 0;
    g_yieldRc = 12345;
    g_waiterYielded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ossSetDiagLevelCallback(holdingDiagLevel);
    ossSetYieldCallbacks(loggingPreYield, nullptr);

    Uint32 writerRc = 1, waiterRc = 1;
    std::thread writer([&] { writerRc = ossLog(log.facility(), kFn, 0, 1, 5, 0); });
    ASSERT_EQ(WaitForSingleObject(held.inside, 10000), WAIT_OBJECT_0);
    std::thread waiter([&] { waiterRc = ossLog(log.facility(), kFn, 0, 2, 5, 0); });
    const DWORD yielded = WaitForSingleObject(g_waiterYielded, 10000);
    SetEvent(held.release);
    writer.join();
    waiter.join();
    ossSetYieldCallbacks(nullptr, nullptr);
    ossSetDiagLevelCallback(nullptr);
    CloseHandle(g_waiterYielded);

    ASSERT_EQ(yielded, WAIT_OBJECT_0);
    EXPECT_GE(g_yieldLogs.load(), 1);
    EXPECT_EQ(g_yieldRc.load(), 0u);
    EXPECT_EQ(writerRc, 0u);
    EXPECT_EQ(waiterRc, 0u);
    std::vector<Record> records = log.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].text.find("probe:1\r\n"), std::string::npos);
    EXPECT_NE(records[1].text.find("probe:2\r\n"), std::string::npos);
}

// A writer that does not finish makes a waiting request give up after a bounded wait: it
// returns ECF_TIMEOUT and is counted, and logging goes on once the writer is done.
TEST(LogFacility, WaitForAStuckWriterIsBoundedAndCounted)
{
    FileLog log;
    HeldWriter held;
    g_held = &held;
    g_holdNext = true;
    ossSetDiagLevelCallback(holdingDiagLevel);

    const Uint32 before = ossLogGetGiveUpCount();
    Uint32 writerRc = 1;
    std::thread writer([&] { writerRc = ossLog(log.facility(), kFn, 0, 1, 5, 0); });
    ASSERT_EQ(WaitForSingleObject(held.inside, 10000), WAIT_OBJECT_0);
    const DWORD start = GetTickCount();
    const Uint32 waiterRc = ossLog(log.facility(), kFn, 0, 2, 5, 0);
    const DWORD waited = GetTickCount() - start;
    const Uint32 after = ossLogGetGiveUpCount();
    SetEvent(held.release);
    writer.join();
    EXPECT_EQ(ossLog(log.facility(), kFn, 0, 3, 5, 0), 0u);
    ossSetDiagLevelCallback(nullptr);

    EXPECT_EQ(waiterRc, 0x90000013u);
    EXPECT_EQ(after, before + 1);
    EXPECT_GE(waited, 1900u);
    EXPECT_EQ(writerRc, 0u);
    EXPECT_EQ(ossLogGetGiveUpCount(), after);
    std::vector<Record> records = log.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].text.find("probe:1\r\n"), std::string::npos);
    EXPECT_NE(records[1].text.find("probe:3\r\n"), std::string::npos);
}
