// The text of diagnostic-log records, byte for byte: header lines, message, called function and
// OSERR lines, every item form, nested lists, argument masks and hexadecimal dumps.
#include "diag_test.h"

using namespace diagtest;

namespace {

constexpr Uint32 kFn = 0x081A0003;  // OSSHFile::close
constexpr Uint32 kCloseHandle = 0x08140069;

// The item part of a one-item record written by ossLog.
std::string itemText(const OSSLogItem& it)
{
    FileLog log;
    EXPECT_EQ(ossLog(log.facility(), kFn, 0, 7, 5, 1, it), 0u);
    std::string text = log.only();
    const std::string head = header("Info", kFn, 7);
    EXPECT_EQ(text.compare(0, head.size(), head), 0) << text;
    return text.size() >= head.size() ? text.substr(head.size()) : text;
}

}  // namespace

TEST(LogText, ItemFormsByTypeAndSize)
{
    const Uint8 u8 = 0xAB, u8dec = 200;
    const Uint16 u16 = 0xBEEF, u16max = 65535;
    const Uint32 u32 = 0xDEADBEEF, u32dec = 4000000000u;
    const Uint64 u64 = 0x0123456789ABCDEFull, u64max = ~0ull;
    const Sint8 s8 = -5;
    const Sint16 s16 = -300;
    const Sint32 s32 = -70000;
    const Sint64 s64 = -5000000000ll;
    const char abc[] = "abc";
    const char xyz[] = "xyz..";
    const Uint8 yes1 = 1;
    const Uint32 no4 = 0;
    const Uint64 yes8 = 1ull << 56;
    struct Case {
        OSSLogItem item;
        std::string expected;
    } cases[] = {
        {item(&u8, 1, -1), "DATA #1 : Hex, 1 bytes\r\n0xAB\r\n"},
        {item(&u16, 2, -1), "DATA #1 : Hex, 2 bytes\r\n0xBEEF\r\n"},
        {item(&u32, 4, -1), "DATA #1 : Hex, 4 bytes\r\n0xDEADBEEF\r\n"},
        {item(&u64, 8, -1), "DATA #1 : Hex, 8 bytes\r\n0x123456789ABCDEF\r\n"},
        {item(&s8, 1, -2), "DATA #1 : Sint8, 1 bytes\r\n-5\r\n"},
        {item(&s16, 2, -2), "DATA #1 : Sint16, 2 bytes\r\n-300\r\n"},
        {item(&s32, 4, -2), "DATA #1 : Sint32, 4 bytes\r\n-70000\r\n"},
        {item(&s64, 8, -2), "DATA #1 : Sint64, 8 bytes\r\n-5000000000\r\n"},
        {item(&u8dec, 1, -3), "DATA #1 : Uint8, 1 bytes\r\n200\r\n"},
        {item(&u16max, 2, -3), "DATA #1 : Uint16, 2 bytes\r\n65535\r\n"},
        {item(&u32dec, 4, -3), "DATA #1 : Uint32, 4 bytes\r\n4000000000\r\n"},
        {item(&u64max, 8, -3), "DATA #1 : Uint64, 8 bytes\r\n18446744073709551615\r\n"},
        {item(xyz, 5, -4), "DATA #1 : Char, 5 bytes\r\nx\r\n"},
        {item("hello", 5, -5), "DATA #1 : String, 5 bytes\r\nhello\r\n"},
        {item("hi", 0, -5), "DATA #1 : String, 0 bytes\r\nhi\r\n"},
        {item(&yes1, 1, -6), "DATA #1 : Bool, 1 bytes\r\ntrue\r\n"},
        {item(&no4, 4, -6), "DATA #1 : Bool, 4 bytes\r\nfalse\r\n"},
        {item(&yes8, 8, -6), "DATA #1 : Bool, 8 bytes\r\ntrue\r\n"},
        {item(nullptr, 4, -1), "DATA #1 : \r\nNULL\r\n"},
        {item(nullptr, 4, 0), "DATA #1 : \r\nNULL\r\n"},
        // Sizes a form does not list, and non-negative types, are dumped.
        {item(abc, 3, -1),
         "DATA #1 : <hexdump>, 3 bytes\r\n616263" + std::string(36, ' ') + "abc\r\n"},
        {item(abc, 3, -2),
         "DATA #1 : <hexdump>, 3 bytes\r\n616263" + std::string(36, ' ') + "abc\r\n"},
        {item(abc, 3, -3),
         "DATA #1 : <hexdump>, 3 bytes\r\n616263" + std::string(36, ' ') + "abc\r\n"},
        {item(abc, 3, -6),
         "DATA #1 : <hexdump>, 3 bytes\r\n616263" + std::string(36, ' ') + "abc\r\n"},
        {item(&u32, 4, 9),
         "DATA #1 : <hexdump>, 4 bytes\r\nEFBEADDE" + std::string(34, ' ') + "....\r\n"},
        {item(abc, 0, 0), "DATA #1 : <hexdump>, 0 bytes\r\n"},
        {item(abc, 3, -100),
         "DATA #1 : <hexdump>, 3 bytes\r\n616263" + std::string(36, ' ') + "abc\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.item.type) + " size " +
                     std::to_string(c.item.size));
        EXPECT_EQ(itemText(c.item), c.expected);
    }
}

TEST(LogText, DumpLinesGroupBytesAndShowCharacters)
{
    Uint8 bytes[20];
    for (int i = 0; i < 20; ++i) bytes[i] = (Uint8)i;
    bytes[17] = 'A';
    EXPECT_EQ(itemText(item(bytes, 20, 0)),
              "DATA #1 : <hexdump>, 20 bytes\r\n"
              "00010203  04050607  08090A0B  0C0D0E0F    ................\r\n"
              "10411213" + std::string(34, ' ') + ".A..\r\n");
}

TEST(LogText, LargeDumpIsCutTo512BytesAndSaysOfWhat)
{
    std::vector<Uint8> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (Uint8)('a' + i % 26);
    const std::string text = itemText(item(bytes.data(), 1000, 0));
    const std::string head = "DATA #1 : <hexdump>, 512 bytesof 1000\r\n";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    const std::string lines = text.substr(head.size());
    ASSERT_EQ(lines.size(), 32u * 60u);
    EXPECT_EQ(lines.substr(0, 60),
              "61626364  65666768  696A6B6C  6D6E6F70    abcdefghijklmnop\r\n");
    // byte 496 is 'a' + 496 % 26 = 'c'
    EXPECT_EQ(lines.substr(31 * 60), "63646566  6768696A  6B6C6D6E  6F707172    cdefghijklmnopqr\r\n");
}

TEST(LogText, ItemsAreCutToTheRecordBuffer)
{
    const std::string big(600, 's');
    const OSSLogItem s = item(big.c_str(), 600, -5);
    std::vector<Uint8> bytes(100, 0x41);
    const OSSLogItem dump = item(bytes.data(), 100, 0);

    // Seven long strings leave room for part of a dump: whole lines only, and "of 100".
    {
        FileLog log;
        ASSERT_EQ(ossLog(log.facility(), kFn, 0, 1, 5, 8, s, s, s, s, s, s, s, dump), 0u);
        const std::string text = log.only();
        EXPECT_LE(text.size() + 49 - 7, 4095u);  // the stamp is masked
        const std::string dumpHead = "DATA #8 : <hexdump>, 100 bytesof 100\r\n";
        const size_t at = text.find(dumpHead);
        ASSERT_NE(at, std::string::npos) << text;
        const std::string lines = text.substr(at + dumpHead.size());
        ASSERT_EQ(lines.size() % 60, 0u) << lines;
        const size_t n = lines.size() / 60;
        EXPECT_GE(n, 1u);
        EXPECT_LT(n, 7u);
        for (size_t i = 0; i < n; ++i)
            EXPECT_EQ(lines.substr(i * 60, 60),
                      "41414141  41414141  41414141  41414141    AAAAAAAAAAAAAAAA\r\n");
    }
    // Nine fill the buffer: the last string is cut and the record is 4095 bytes long.
    {
        FileLog log;
        ASSERT_EQ(ossLog(log.facility(), kFn, 0, 1, 5, 9, s, s, s, s, s, s, s, s, s), 0u);
        std::vector<Record> records = log.records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].text.size(), 4095u);
        EXPECT_EQ(records[0].text.substr(4095 - 10), std::string(10, 's'));
        EXPECT_EQ(records[0].text.find("DATA #9 "), std::string::npos);
    }
}

TEST(LogText, MessageAndCountZero)
{
    FileLog log;
    EXPECT_EQ(ossLog(log.facility(), kFn, 0x9000000C, 1111, 3, 0), 0u);
    EXPECT_EQ(log.only(), header("Error", kFn, 1111) + "MESSAGE : ECF=0x9000000C Invalid parameter\r\n");
}

TEST(LogText, NegativeCountOfOssLogWritesNothing)
{
    FileLog log;
    const Uint32 v = 1;
    EXPECT_EQ(ossLog(log.facility(), kFn, 0, 1, 5, -1, item(&v, 4, -1)), 0x9000000Cu);
    EXPECT_FALSE(fileExists(log.path()));
}

TEST(LogText, CalledFunctionAndReturnCode)
{
    FileLog log;
    const Uint32 size = 64;
    const Uint32 mask = 0x80000005u;  // arguments 1 and 3
    EXPECT_EQ(ossLogRC(log.facility(), 0x081A00BA, 0x081A0058, 0x9000000D, 0, 10, 3,
                       (Sint32)mask, item(&size, 4, -3), item("x", 1, -5)),
              0u);
    EXPECT_EQ(log.only(), header("Error", 0x081A00BA, 10) + "CALLED  : " +
                              functionNames(0x081A0058) + "\r\nRETCODE : ECF=0x9000000D Insufficent memory\r\n" +
                              "ARG  #1 : Uint32, 4 bytes\r\n64\r\nARG  #3 : String, 1 bytes\r\nx\r\n");
}

TEST(LogText, OsErrorLineStartsAtColumn50)
{
    const std::string called = "CALLED  : " + osCallNames(kCloseHandle);
    ASSERT_LT(called.size(), 50u);
    const std::string pad(50 - called.size(), ' ');
    struct Case {
        Uint32 failedCall;
        Uint32 osError;
        std::string line;
    } cases[] = {
        {kCloseHandle, 6, called + pad + "OSERR: ERROR_INVALID_FLAGS (6)\r\n"},
        {kCloseHandle, 1455, called + pad + "OSERR: 1455\r\n"},
        {kCloseHandle, 0xFFFFFFFFu, called + pad + "OSERR: -1\r\n"},
        {0x0814009D, 2, "CALLED  : " + osCallNames(0x0814009D) +
                            std::string(50 - 10 - osCallNames(0x0814009D).size(), ' ') +
                            "OSERR: ENOENT (2)\r\n"},
    };
    for (const Case& c : cases) {
        FileLog log;
        EXPECT_EQ(ossLogSysRC(log.facility(), kFn, c.failedCall, c.osError, 0x9000000C, 10, 5, 0),
                  0u);
        EXPECT_EQ(log.only(), header("Info", kFn, 10, true) +
                                  "MESSAGE : ECF=0x9000000C Invalid parameter\r\n" + c.line);
    }
}

TEST(LogText, LongCalledTextGetsOneSpaceBeforeOsError)
{
    // A called function of the library's own component prints its three names, each cut at 40
    // characters; past column 50 the OSERR text follows after one space.
    FileLog log;
    EXPECT_EQ(ossLogSysRC(log.facility(), kFn, 0x081A00DE, 5, 0, 20, 5, 0), 0u);
    EXPECT_EQ(log.only(), header("Info", kFn, 20, true) +
                              "CALLED  : NRV Common Services, OSSe, "
                              "ossDATGetUDAPLDeviceForInterfaceByParsin OSERR: "
                              "ERROR_ACCESS_DENIED (5)\r\n");
}

namespace {

// Logs [before, nested list of the items given here, after] through ossLog.
Uint32 logNested(OSSLogFacility* f, Sint32 nestedSize, ...)
{
    va_list inner;
    va_start(inner, nestedSize);
    static const Uint32 before = 1, after = 2;
    Uint32 rc = ossLog(f, kFn, 0, 3, 5, 3, item(&before, 4, -3),
                       item(&inner, nestedSize, OSS_ITEM_NESTED), item(&after, 4, -3));
    va_end(inner);
    return rc;
}

}  // namespace

TEST(LogText, NestedListsAreExpandedInPlace)
{
    const Uint32 a = 10, b = 11;
    const std::string before = "Uint32, 4 bytes\r\n1\r\n", after = "Uint32, 4 bytes\r\n2\r\n";
    {
        FileLog log;
        ASSERT_EQ(logNested(log.facility(), 2, item(&a, 4, -3), item(&b, 4, -3)), 0u);
        EXPECT_EQ(log.only(), header("Info", kFn, 3) + "DATA #1 : " + before +
                                  "DATA #2 : Uint32, 4 bytes\r\n10\r\n"
                                  "DATA #3 : Uint32, 4 bytes\r\n11\r\n"
                                  "DATA #4 : " + after);
    }
    {
        // A nested argument mask labels by position; the outer numbering then restarts at the
        // next item's position minus 1.
        FileLog log;
        ASSERT_EQ(logNested(log.facility(), (Sint32)0x80000005u, item(&a, 4, -3),
                            item(&b, 4, -3)),
                  0u);
        EXPECT_EQ(log.only(), header("Info", kFn, 3) + "DATA #1 : " + before +
                                  "ARG  #1 : Uint32, 4 bytes\r\n10\r\n"
                                  "ARG  #3 : Uint32, 4 bytes\r\n11\r\n"
                                  "DATA #2 : " + after);
    }
    {
        FileLog log;
        ASSERT_EQ(logNested(log.facility(), 0), 0u);
        EXPECT_EQ(log.only(), header("Info", kFn, 3) + "DATA #1 : " + before + "DATA #2 : " + after);
    }
}

TEST(LogText, TwoDigitItemNumbers)
{
    FileLog log;
    const Uint8 v = 7;
    const OSSLogItem i = item(&v, 1, -3);
    ASSERT_EQ(ossLog(log.facility(), kFn, 0, 1, 5, 11, i, i, i, i, i, i, i, i, i, i, i), 0u);
    const std::string text = log.only();
    EXPECT_NE(text.find("DATA #9 : Uint8, 1 bytes\r\n7\r\nDATA #10: Uint8, 1 bytes\r\n7\r\n"
                        "DATA #11: Uint8, 1 bytes\r\n7\r\n"),
              std::string::npos)
        << text;
}
