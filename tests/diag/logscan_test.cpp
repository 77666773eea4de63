// Cutting a log file into records: real records written by the library, then cut, damaged and
// joined the ways a file can be, fed to the cutter whole and in pieces of many sizes.
#include "diag_test.h"
#include "logscan.h"

using namespace diagtest;

namespace {

constexpr Uint32 kFn = 0x081A0002;  // OSSHFile::open

// What the cutter reported, as text: "R<offset>+<length>", "D<offset>+<length>" (damaged),
// "C<offset>+<length>" (cut short), "T<offset>:<have>/<want>" (truncated).
struct Events final : logscan::Sink {
    std::vector<std::string> seen;
    std::string bytes;  // the records' bytes, concatenated
    void record(uint64_t offset, const char* text, size_t length) override
    {
        seen.push_back("R" + std::to_string(offset) + "+" + std::to_string(length));
        bytes.append(text, length);
    }
    void damaged(uint64_t offset, uint64_t length, bool cutShort) override
    {
        seen.push_back((cutShort ? "C" : "D") + std::to_string(offset) + "+" + std::to_string(length));
    }
    void truncated(uint64_t offset, uint64_t have, uint64_t want) override
    {
        seen.push_back("T" + std::to_string(offset) + ":" + std::to_string(have) + "/" +
                       std::to_string(want));
    }
};

// With OSSE_FUZZ_SEED_DIR set, each log the tests cut is kept as a seed of the log cutter's
// fuzz target: two bytes of piece size, then the file.
void saveSeed(const std::string& file, size_t piece)
{
    const char* dir = getenv("OSSE_FUZZ_SEED_DIR");
    if (!dir || !*dir) return;
    static std::vector<std::string> saved;
    for (const std::string& s : saved)
        if (s == file) return;
    saved.push_back(file);
    const std::string folder = std::string(dir) + "\\logscan_fuzz";
    CreateDirectoryA(dir, nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string bytes(1, (char)(piece & 0xFF));
    bytes += (char)((piece >> 8) & 0xFF);
    bytes += file;
    const std::string path = folder + "\\seed-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                             std::to_string(saved.size());
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
}

// Feeds `file` to a cutter the way the tool does, reading at most `piece` bytes at a time into
// a buffer of a fixed size.
Events cut(const std::string& file, size_t piece)
{
    saveSeed(file, piece);
    Events ev;
    logscan::Cutter cutter;
    std::vector<char> buffer(piece + logscan::kMaxRecord + logscan::kStartBytes);
    size_t kept = 0, read = 0;
    uint64_t base = 0;
    for (;;) {
        const size_t n = std::min(piece, file.size() - read);
        memcpy(buffer.data() + kept, file.data() + read, n);
        read += n;
        const size_t have = kept + n;
        const bool atEnd = n == 0;
        const size_t used = cutter.scan(buffer.data(), have, base, atEnd, ev);
        EXPECT_LE(have - used, logscan::kMaxRecord + logscan::kStartBytes);
        memmove(buffer.data(), buffer.data() + used, have - used);
        kept = have - used;
        base += used;
        if (atEnd) break;
    }
    EXPECT_EQ(kept, 0u);
    return ev;
}

// Three real records of different lengths, as the library wrote them to one file; with `lost`,
// the first record's write fell that many bytes short before the others were appended.
std::string threeRecords(size_t lost = 0)
{
    FileLog log;
    const std::string big(1500, 'b');
    ossLog(log.facility(), kFn, 0x9000001A, 10, 5, 0);
    if (lost) {
        HANDLE h = CreateFileA(log.path().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        SetFilePointer(h, -(LONG)lost, nullptr, FILE_END);
        SetEndOfFile(h);
        CloseHandle(h);
    }
    ossLogSysRC(log.facility(), kFn, 0x08140069, 5, 0x90000001, 20, 5, 1,
                item(big.c_str(), (Sint32)big.size(), -5));
    ossLogRC(log.facility(), kFn, 0x081A0003, 0x9000000C, 0, 30, 4, 0);
    return log.contents();
}

std::string R(size_t offset, size_t length)
{
    return "R" + std::to_string(offset) + "+" + std::to_string(length);
}

}  // namespace

TEST(LogScan, CutsWholeDamagedAndTruncatedFiles)
{
    const std::string file = threeRecords();
    const std::vector<Record> rec = cutRecords(file);
    ASSERT_EQ(rec.size(), 3u);
    const size_t a = rec[0].text.size(), b = rec[1].text.size(), c = rec[2].text.size();
    const std::string junk = "some text that is not a record\r\n\r\n";
    const size_t j = junk.size();

    struct Case {
        const char* what;
        std::string file;
        std::vector<std::string> want;
    };
    std::string badLocator = file;
    badLocator[a + 34] = badLocator[a + 34] == '9' ? '8' : '9';  // a wrong offset in record 2
    // Record 1 lost its last 100 bytes and record 2 was appended right after what remained.
    const std::string cutShort = threeRecords(100);
    ASSERT_EQ(cutShort.size(), file.size() - 100);
    Case cases[] = {
        {"whole", file, {R(0, a), R(a, b), R(a + b, c)}},
        {"empty", "", {}},
        {"cut inside the last record", file.substr(0, a + b + 200),
         {R(0, a), R(a, b), "T" + std::to_string(a + b) + ":200/" + std::to_string(c)}},
        {"cut inside a header", file.substr(0, a + 30), {R(0, a), "T" + std::to_string(a) + ":30/0"}},
        {"junk between records", file.substr(0, a) + junk + file.substr(a),
         {R(0, a), "D" + std::to_string(a) + "+" + std::to_string(j), R(a + j, b), R(a + j + b, c)}},
        {"junk before and after", junk + file + junk,
         {"D0+" + std::to_string(j), R(j, a), R(j + a, b), R(j + a + b, c),
          "D" + std::to_string(j + a + b + c) + "+" + std::to_string(j)}},
        {"a locator that names another position", badLocator,
         {R(0, a), "D" + std::to_string(a) + "+" + std::to_string(b), R(a + b, c)}},
        {"a record cut short by the next", cutShort,
         {"C0+" + std::to_string(a - 100), R(a - 100, b), R(a - 100 + b, c)}},
        {"not a log", std::string(20000, 'x'), {"D0+20000"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        for (size_t piece : {size_t(1), size_t(7), size_t(100), size_t(4147), size_t(1) << 20}) {
            SCOPED_TRACE(piece);
            EXPECT_EQ(cut(k.file, piece).seen, k.want);
        }
    }
    // The records found are the file's bytes exactly.
    EXPECT_EQ(cut(file, 64).bytes, file);
}

TEST(LogScan, ReadsTheHeaderLines)
{
    const std::string file = threeRecords();
    const std::vector<Record> rec = cutRecords(file);
    ASSERT_EQ(rec.size(), 3u);
    logscan::Header h[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(logscan::parseHeader(rec[i].text.data(), rec[i].text.size(), &h[i])) << i;

    EXPECT_EQ(h[0].time, rec[0].text.substr(2, 26));
    EXPECT_EQ(h[0].level, "Info");
    EXPECT_FALSE(h[0].os);
    EXPECT_EQ(h[0].pid, GetCurrentProcessId());
    EXPECT_EQ(h[0].tid, GetCurrentThreadId());
    EXPECT_EQ(h[0].product, "NRV Common Services");
    EXPECT_EQ(h[0].component, "OSSe");
    EXPECT_EQ(h[0].function, "OSSHFile::open");
    EXPECT_EQ(h[0].probe, 10u);
    EXPECT_TRUE(h[0].hasMessage);
    EXPECT_EQ(h[0].message, 0x9000001Au);
    EXPECT_FALSE(h[0].hasRetcode);

    EXPECT_TRUE(h[1].os);
    EXPECT_EQ(h[1].level, "Info");
    EXPECT_EQ(h[1].message, 0x90000001u);
    EXPECT_EQ(h[1].called, "OS, -, CloseHandle");
    EXPECT_EQ(h[1].oserr, "ERROR_ACCESS_DENIED (5)");

    EXPECT_EQ(h[2].level, "Warning");
    EXPECT_FALSE(h[2].hasMessage);
    EXPECT_TRUE(h[2].hasRetcode);
    EXPECT_EQ(h[2].retcode, 0x9000000Cu);
    EXPECT_EQ(h[2].called, "NRV Common Services, OSSe, OSSHFile::close");

    // Header lines that are not a record's.
    for (const char* bad : {"", "\r\n", "\r\nshort\r\n",
                            "\r\n2026-01-01-00.00.00.000000+000                    LEVEL: Info\r\nPID : x\r\n"}) {
        logscan::Header x;
        EXPECT_FALSE(logscan::parseHeader(bad, strlen(bad), &x)) << bad;
    }
}
