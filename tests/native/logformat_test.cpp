// The log record's text with a stamp given by the test: the header that the Windows tests can
// only mask (date, UTC offset, process and thread), the offset of zones a day apart from UTC,
// the 64-bit item forms in this build's formatting dialect, and the bound of the record buffer
// under many and deeply nested items.
#include <stdarg.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "diag/logtext.h"
#include "osse/osse.h"
#include "osse_test.h"

namespace {

using ossdiag::LogRequest;
using ossdiag::RecordStamp;

constexpr Uint32 kFn = 0x081A0003;  // OSSHFile::close

RecordStamp stamp(Sint32 offsetMinutes = 60)
{
    RecordStamp s = {};
    s.year = 2024;
    s.month = 2;
    s.day = 29;
    s.hour = 23;
    s.minute = 5;
    s.second = 9;
    s.millisecond = 7;
    s.utcOffsetMinutes = offsetMinutes;
    s.pid = 4294967295u;
    s.tid = 18446744073709551615ull;
    return s;
}

// The record of one request with `count` items (or an argument mask with OSS_LOG_FLAG_MASK).
std::string format(const RecordStamp& when, Uint32 calledId, Uint32 code, Uint32 flags,
                   Sint32 count, ...)
{
    std::vector<char> record(OSS_LOG_RECORD_MAX + 16, '#');
    va_list args;
    va_start(args, count);
    LogRequest req = {nullptr, kFn, calledId, code, 0, 7, OSS_LEVEL_INFO, flags, count, &args};
    const Uint32 n = ossdiag::formatRecordText(req, when, record.data());
    va_end(args);
    EXPECT_LT(n, (Uint32)OSS_LOG_RECORD_MAX);
    EXPECT_EQ(record[n], '\0');
    EXPECT_EQ(std::string(record.data() + OSS_LOG_RECORD_MAX, 16), std::string(16, '#'))
        << "written past the record buffer";
    return std::string(record.data(), n);
}

std::string functionLine(Uint32 id)
{
    return std::string(ecfGetProductName(id)) + ", " + ecfGetComponentName(id) + ", " +
           ecfGetFunctionName(id);
}

}  // namespace

TEST(LogFormat, HeaderCarriesTheStampProcessAndThread)
{
    const std::string expected = "\r\n2024-02-29-23.05.09.007000+060" + std::string(19, ' ') +
                                 " LEVEL: Info\r\nPID     : 4294967295" + std::string(11, ' ') +
                                 "TID : 18446744073709551615\r\nFUNCTION: " + functionLine(kFn) +
                                 ", probe:7\r\n";
    EXPECT_EQ(format(stamp(), 0, 0, 0, 0), expected);

    // Offsets west of UTC, of zero, and of the zones furthest out, in at most four characters.
    const struct {
        Sint32 minutes;
        const char* text;
    } offsets[] = {{0, "+000"}, {-300, "-300"}, {-720, "-720"}, {840, "+840"}, {-90, "-090"},
                   {1439, "+143"}};
    for (const auto& o : offsets) {
        const std::string text = format(stamp(o.minutes), 0, 0, 0, 0);
        EXPECT_EQ(text.substr(28, 4 + 1), std::string(o.text) + " ") << o.minutes;
    }
}

TEST(LogFormat, UtcOffsetAcrossMidnightAndTheYearEnd)
{
    // tm of (year since 1900, day of year, hour, minute).
    auto at = [](int year, int yday, int hour, int minute) {
        struct tm t = {};
        t.tm_year = year;
        t.tm_yday = yday;
        t.tm_hour = hour;
        t.tm_min = minute;
        return t;
    };
    const struct {
        const char* zone;
        struct tm local, utc;
        Sint32 minutes;
    } cases[] = {
        {"UTC", at(124, 10, 12, 0), at(124, 10, 12, 0), 0},
        {"+05:30", at(124, 10, 17, 30), at(124, 10, 12, 0), 330},
        {"+13:00, local day ahead", at(124, 11, 1, 0), at(124, 10, 12, 0), 780},
        {"+14:00, local day ahead", at(124, 11, 2, 0), at(124, 10, 12, 0), 840},
        {"-12:00, local day behind", at(124, 9, 23, 0), at(124, 10, 11, 0), -720},
        {"-10:00 on New Year's Eve", at(123, 364, 14, 0), at(124, 0, 0, 0), -600},
        {"+09:00 on New Year's Day", at(125, 0, 8, 0), at(124, 365, 23, 0), 540},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ossdiag::utcOffsetMinutes(c.local, c.utc), c.minutes) << c.zone;
}

TEST(LogFormat, CalledFunctionAndOsErrorLines)
{
    const Uint32 closeHandle = 0x08140069;
    std::string text = format(stamp(), closeHandle, 6, OSS_LOG_FLAG_OSERR, 0);
    const std::string called = "CALLED  : OS, -, CloseHandle";
    ASSERT_NE(text.find("LEVEL: Info (OS)\r\n"), std::string::npos) << text;
    const std::string pad(50 - called.size(), ' ');
    EXPECT_NE(text.find(called + pad + "OSERR: ERROR_INVALID_FLAGS (6)\r\n"), std::string::npos)
        << text;
    text = format(stamp(), closeHandle, 99999, OSS_LOG_FLAG_OSERR, 0);
    EXPECT_NE(text.find(called + pad + "OSERR: 99999\r\n"), std::string::npos) << text;
    text = format(stamp(), 0x081A0058, 0x9000000D, 0, 0);
    EXPECT_NE(text.find("CALLED  : " + functionLine(0x081A0058) +
                        "\r\nRETCODE : ECF=0x9000000D Insufficent memory\r\n"),
              std::string::npos)
        << text;
}

TEST(LogFormat, SixtyFourBitItemsReadAsInTheDll)
{
    const Uint64 u = 18446744073709551615ull, h = 0x0123456789ABCDEFull;
    const Sint64 s = -5000000000ll;
    const std::string text =
        format(stamp(), 0, 0, 0, 3, OSSLogItem{&h, 8, OSS_ITEM_HEX},
               OSSLogItem{&s, 8, OSS_ITEM_SIGNED}, OSSLogItem{&u, 8, OSS_ITEM_UNSIGNED});
    EXPECT_NE(text.find("DATA #1 : Hex, 8 bytes\r\n0x123456789ABCDEF\r\n"
                        "DATA #2 : Sint64, 8 bytes\r\n-5000000000\r\n"
                        "DATA #3 : Uint64, 8 bytes\r\n18446744073709551615\r\n"),
              std::string::npos)
        << text;
}

namespace {

// A record whose items nest `levels` lists deep, one string in each list. Each call holds one
// list, made of a string and the list of the call before it, while the record is formatted.
std::string nestedRecord(int levels, const OSSLogItem& str, Sint32 count, ...)
{
    va_list args;
    va_start(args, count);
    std::string text;
    if (levels == 0) {
        std::vector<char> record(OSS_LOG_RECORD_MAX);
        LogRequest req = {nullptr, kFn, 0, 0, 0, 7, OSS_LEVEL_INFO, 0, count, &args};
        const Uint32 n = ossdiag::formatRecordText(req, stamp(), record.data());
        text.assign(record.data(), n);
    } else {
        text = nestedRecord(levels - 1, str, 2, str, OSSLogItem{&args, count, OSS_ITEM_NESTED});
    }
    va_end(args);
    return text;
}

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(LogFormat, DeepAndManyItemsStayInTheRecord)
{
    // Lists below the eighth level are left out: the nine outer strings, numbered in order.
    const OSSLogItem str = {"n", 1, OSS_ITEM_STRING};
    const std::string deep = nestedRecord(12, str, 1, str);
    EXPECT_EQ(countOf(deep, "String, 1 bytes\r\nn\r\n"), 9u) << deep;
    EXPECT_NE(deep.find("DATA #9 : String"), std::string::npos) << deep;

    // Every argument of a mask a large dump: the dumps take whole lines while they fit, the
    // record then fills up to its last byte, and the arguments past it are not read.
    std::vector<Uint8> bytes(700, 0x41);
    const OSSLogItem d = {bytes.data(), 700, OSS_ITEM_BYTES};
    const std::string text = format(stamp(), 0, 0, OSS_LOG_FLAG_MASK, (Sint32)0x7FFFFFFF, d, d, d,
                                    d, d, d, d, d, d, d, d, d, d, d, d, d, d, d, d, d, d, d, d, d,
                                    d, d, d, d, d, d, d);
    EXPECT_EQ(text.size(), (size_t)OSS_LOG_RECORD_MAX - 1);
    EXPECT_EQ(countOf(text, "ARG  #1 : <hexdump>, 512 bytesof 700\r\n"), 1u) << text;
    EXPECT_EQ(countOf(text, "ARG  #"), 4u) << text;
    const std::string line = "41414141  41414141  41414141  41414141    AAAAAAAAAAAAAAAA\r\n";
    EXPECT_EQ(countOf(text, "41414141  "), 4 * countOf(text, line)) << "a dump line was cut";
}
