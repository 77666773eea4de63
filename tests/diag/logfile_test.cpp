// The log file destination: locators, a file that cannot be written, and many processes and
// threads appending to one file at once.
#include <thread>

#include "diag_test.h"

using namespace diagtest;

namespace {
constexpr Uint32 kFn = 0x081A0008;  // OSSHFile::write
}

TEST(LogFile, LocatorsGiveEachRecordsOffsetAndLength)
{
    FileLog log;
    const Uint32 v = 5;
    ASSERT_EQ(ossLog(log.facility(), kFn, 0, 1, 5, 1, item(&v, 4, -3)), 0u);
    const std::string first = log.contents();
    ASSERT_EQ(ossLog(log.facility(), kFn, 0x90000002, 2, 5, 2, item(&v, 4, -3), item("ab", 2, -5)),
              0u);
    const std::string file = log.contents();

    char locator[40];
    snprintf(locator, sizeof locator, "I2H%u ", (unsigned)first.size() - 2);
    EXPECT_EQ(first.substr(33, strlen(locator)), locator);
    snprintf(locator, sizeof locator, "I%uH%u ", (unsigned)first.size() + 2,
             (unsigned)(file.size() - first.size() - 2));
    EXPECT_EQ(file.substr(first.size() + 33, strlen(locator)), locator);
    EXPECT_EQ(file.substr(first.size() + 50, 9), "  LEVEL: ");  // byte 50 is blanked

    std::vector<Record> records = cutRecords(file);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(maskStamp(records[0].text, true), header("Info", kFn, 1) + "DATA #1 : Uint32, 4 bytes\r\n5\r\n");
    EXPECT_EQ(maskStamp(records[1].text, true),
              header("Info", kFn, 2) + "MESSAGE : ECF=0x90000002 Failed\r\n" +
                  "DATA #1 : Uint32, 4 bytes\r\n5\r\nDATA #2 : String, 2 bytes\r\nab\r\n");
}

TEST(LogFile, FileInMissingDirectoryFailsWithoutRecursing)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("missing\\diag.log");
    OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_FILE, path, 5);
    ASSERT_EQ(ossLogFacOpen(&p, nullptr), 0u);  // the default facility: the handler's target
    const Uint32 v = 1;
    EXPECT_EQ(ossLog(nullptr, kFn, 0, 1, 5, 1, item(&v, 4, -3)), 0x90000002u);
    // The handler still returns its code when its record cannot be written.
    EXPECT_EQ(ossSystemErrorHandler(kFn, 0x081400A8, 112, 40, 5, 0, nullptr, 1, item(&v, 4, -3)),
              0x90000028u);
    EXPECT_FALSE(fileExists(dir.file("missing")));
    // The facility stays usable once the file can be written.
    ASSERT_TRUE(CreateDirectoryA(dir.file("missing").c_str(), nullptr));
    EXPECT_EQ(ossLog(nullptr, kFn, 0, 1, 5, 0), 0u);
    EXPECT_EQ(cutRecords(readFile(path)).size(), 1u);
    ossLogFacClose(nullptr);
}

namespace {

constexpr int kProcesses = 4, kThreads = 2, kRecordsPerThread = 150;

// Each record carries its writer and sequence number, and a dump whose length varies with the
// sequence, so that records differ in length and interleaved text cannot pass for a record.
std::string tagOf(int writer, int thread, int seq)
{
    return "w" + std::to_string(writer) + "t" + std::to_string(thread) + "n" + std::to_string(seq);
}

std::vector<Uint8> fillOf(int seq)
{
    std::vector<Uint8> bytes((size_t)(seq % 9) * 37 + 1);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (Uint8)('a' + (seq + i) % 26);
    return bytes;
}

std::string dumpText(const std::vector<Uint8>& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "<hexdump>, " + std::to_string(bytes.size()) + " bytes\r\n";
    for (size_t at = 0; at < bytes.size(); at += 16) {
        std::string chars;
        for (size_t i = 0; i < 16; ++i) {
            if (at + i < bytes.size()) {
                out += hex[bytes[at + i] >> 4];
                out += hex[bytes[at + i] & 15];
                chars += (char)bytes[at + i];
            } else {
                out += "  ";
            }
            if (i % 4 == 3) out += "  ";
        }
        out += "  " + chars + "\r\n";
    }
    return out;
}

int appendRecords(OSSLogFacility* f, int writer, int thread)
{
    for (int seq = 0; seq < kRecordsPerThread; ++seq) {
        const std::string tag = tagOf(writer, thread, seq);
        const std::vector<Uint8> fill = fillOf(seq);
        if (ossLog(f, kFn, 0, 10, 5, 2, item(tag.c_str(), (Sint32)tag.size(), -5),
                   item(fill.data(), (Sint32)fill.size(), 0)) != 0)
            return 1;
    }
    return 0;
}

}  // namespace

OSSE_CHILD_ROLE(log_appender)
{
    OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_FILE, args.at(0), 5);
    OSSLogFacility f = {};
    if (ossLogFacOpen(&p, &f) != 0) return 2;
    const int writer = atoi(args.at(1).c_str());
    // Every writer starts when the parent has started them all.
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, args.at(2).c_str());
    if (!go || WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) return 4;
    CloseHandle(go);
    int failures[kThreads] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { failures[t] = appendRecords(&f, writer, t); });
    for (std::thread& th : threads) th.join();
    for (int r : failures)
        if (r) return 3;
    return 0;
}

TEST(LogFile, ProcessesAndThreadsAppendWholeRecords)
{
    ossetest::TempDir dir;
    const std::string path = dir.file("shared.log");
    const std::string goName = "osse_log_go_" + std::to_string(GetCurrentProcessId());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, goName.c_str());
    ASSERT_NE(go, nullptr);
    std::vector<ossetest::Child> children(kProcesses);
    for (int w = 0; w < kProcesses; ++w)
        ASSERT_TRUE(children[w].start("log_appender", {path, std::to_string(w), goName}));
    SetEvent(go);
    for (int w = 0; w < kProcesses; ++w) EXPECT_EQ(children[w].wait(120000), 0) << w;
    CloseHandle(go);

    const std::vector<Record> records = cutRecords(readFile(path));
    ASSERT_EQ(records.size(), (size_t)(kProcesses * kThreads * kRecordsPerThread));

    static const std::regex ids("^\r\n<STAMP> LEVEL: Info\r\nPID     : ([0-9]+) *TID : ([0-9]+)\r\n");
    static const std::regex tagRe("DATA #1 : String, [0-9]+ bytes\r\nw([0-9]+)t([0-9]+)n([0-9]+)\r\n");
    std::vector<std::vector<int>> next(kProcesses, std::vector<int>(kThreads, 0));
    for (const Record& r : records) {
        const std::string text = maskStamp(r.text, true);
        std::smatch id, tag;
        ASSERT_TRUE(std::regex_search(text, id, ids)) << text;
        ASSERT_TRUE(std::regex_search(text, tag, tagRe)) << text;
        const int w = std::stoi(tag[1]), t = std::stoi(tag[2]), seq = std::stoi(tag[3]);
        ASSERT_TRUE(w < kProcesses && t < kThreads) << text;
        EXPECT_EQ(std::stoul(id[1]), children[w].pid()) << text;
        // One thread's records keep their order in the file.
        EXPECT_EQ(seq, next[w][t]) << text;
        next[w][t] = seq + 1;

        char pidLine[80];
        snprintf(pidLine, sizeof pidLine, "PID     : %-21luTID : %s\r\n",
                 (unsigned long)children[w].pid(), id[2].str().c_str());
        const std::string tagText = tagOf(w, t, seq);
        const std::string expected =
            "\r\n<STAMP> LEVEL: Info\r\n" + std::string(pidLine) + "FUNCTION: " +
            functionNames(kFn) + ", probe:10\r\n" + "DATA #1 : String, " +
            std::to_string(tagText.size()) + " bytes\r\n" + tagText + "\r\n" + "DATA #2 : " +
            dumpText(fillOf(seq));
        EXPECT_EQ(text, expected);
    }
    for (int w = 0; w < kProcesses; ++w)
        for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[w][t], kRecordsPerThread) << w << t;
}

OSSE_CHILD_ROLE(log_one_record)
{
    OSSLogFacOpenParam p = openParam(OSS_LOG_DEST_FILE, args.at(0), 5);
    OSSLogFacility f = {};
    if (ossLogFacOpen(&p, &f) != 0) return 2;
    return ossLog(&f, kFn, 0, 1, 5, 0) == 0 ? 0 : 3;
}

TEST(LogFile, UtcOffsetFollowsTheTimeZone)
{
    // The C runtime takes the time zone from TZ: hours west of UTC, optionally with minutes.
    // Zones 12 hours or more away from UTC keep their sign at every time of day.
    struct Case {
        const char* tz;
        const char* offset;
    } cases[] = {{"UTC0", "+000"}, {"ABC-5:30", "+330"}, {"ABC8", "-480"}, {"ABC-14", "+840"},
                 {"ABC11", "-660"}};
    for (const Case& c : cases) {
        ossetest::TempDir dir;
        const std::string path = dir.file("tz.log");
        ASSERT_EQ(ossetest::runChild("log_one_record", {path}, {std::string("TZ=") + c.tz}), 0);
        std::vector<Record> records = cutRecords(readFile(path));
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].text.substr(28, 5), std::string(c.offset) + " ") << c.tz;
    }
}
