// Time of day, its calendar breakdown and text, and the microsecond clock's arithmetic.
#include <windows.h>

#include <cstring>
#include <ctime>
#include <string>

#include "osse/osse.h"
#include "osse_test.h"
#include "../../src/sync/time_clock.h"

TEST(TimeOfDay, UtcSecondsAndMilliseconds)
{
    OSSTime t;
    memset(&t, 0xA5, sizeof t);
    const Sint64 before = _time64(nullptr);
    const Sint64 s = ossTimeGetUTC(&t);
    const Sint64 after = _time64(nullptr);
    EXPECT_GE(s, before);
    EXPECT_LE(s, after);
    EXPECT_EQ(t.seconds, s);
    EXPECT_LT(t.milliseconds, 1000u);
    EXPECT_EQ(t.microseconds, t.milliseconds * 1000u);

    const Sint64 s2 = ossTimeGetUTC(nullptr);
    EXPECT_GE(s2, s);
    EXPECT_LE(s2, _time64(nullptr));
}

namespace {

struct Fields {
    int year, mon, mday, hour, min, sec, wday, yday;
};

void expectFields(const struct tm& tm, const Fields& f)
{
    EXPECT_EQ(tm.tm_year, f.year - 1900);
    EXPECT_EQ(tm.tm_mon, f.mon - 1);
    EXPECT_EQ(tm.tm_mday, f.mday);
    EXPECT_EQ(tm.tm_hour, f.hour);
    EXPECT_EQ(tm.tm_min, f.min);
    EXPECT_EQ(tm.tm_sec, f.sec);
    EXPECT_EQ(tm.tm_wday, f.wday);
    EXPECT_EQ(tm.tm_yday, f.yday);
    EXPECT_EQ(tm.tm_isdst, 0);
}

bool isZero(const struct tm& tm)
{
    static const struct tm zero = {};
    return memcmp(&tm, &zero, sizeof tm) == 0;
}

}  // namespace

TEST(TimeOfDay, GmTimeBreaksDownUtc)
{
    struct Case {
        Sint64 seconds;
        Fields f;
    } cases[] = {
        {0, {1970, 1, 1, 0, 0, 0, 4, 0}},
        {951825599, {2000, 2, 29, 11, 59, 59, 2, 59}},     // a leap day
        {2147483648ll, {2038, 1, 19, 3, 14, 8, 2, 18}},     // past 32-bit seconds
        {4102444800ll, {2100, 1, 1, 0, 0, 0, 5, 0}},
        {32535215999ll, {3000, 12, 31, 23, 59, 59, 3, 364}},  // the last convertible second
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        struct tm tm;
        memset(&tm, 0x5A, sizeof tm);
        EXPECT_EQ(ossTimeGmTime(c.seconds, &tm), &tm);
        expectFields(tm, c.f);
    }
}

TEST(TimeOfDay, LocalTimeAgreesWithTheRuntimesInverse)
{
    for (Sint64 s : {86400ll, 951825599ll, 1700000000ll, 4102444800ll}) {
        SCOPED_TRACE(s);
        struct tm tm;
        EXPECT_EQ(ossTimeLocalTime(s, &tm), &tm);
        struct tm copy = tm;
        EXPECT_EQ(_mktime64(&copy), s);
    }
}

TEST(TimeOfDay, UnrepresentableTimesZeroTheFields)
{
    for (Sint64 s : {-1ll, -86400ll * 365 * 100, 32535216000ll, 1ll << 62, INT64_MIN,
                     INT64_MAX}) {
        SCOPED_TRACE(s);
        struct tm gm, local;
        memset(&gm, 0x5A, sizeof gm);
        memset(&local, 0x5A, sizeof local);
        EXPECT_EQ(ossTimeGmTime(s, &gm), &gm);
        EXPECT_EQ(ossTimeLocalTime(s, &local), &local);
        EXPECT_TRUE(isZero(gm));
        EXPECT_TRUE(isZero(local));
    }
    EXPECT_EQ(ossTimeGmTime(0, nullptr), nullptr);
    EXPECT_EQ(ossTimeLocalTime(0, nullptr), nullptr);
}

TEST(TimeOfDay, ToStringWritesTheLocalTimeInCalendarForm)
{
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (Sint64 s : {0ll, 951825599ll, 1700000000ll, 4102444800ll}) {
        SCOPED_TRACE(s);
        OSSTime t = {};
        t.seconds = s;
        OSSTime::toStringParam p;
        p.version = OSS_CURRENT_VERSION;
        memset(p.text, 'x', sizeof p.text);
        t.toString(&p);

        struct tm tm;
        ossTimeLocalTime(s, &tm);
        // The runtime's form: 24 characters, the day of the month padded with a zero.
        char expected[64];
        snprintf(expected, sizeof expected, "%s %s %02d %02d:%02d:%02d %d\n", kDays[tm.tm_wday],
                 kMonths[tm.tm_mon], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                 tm.tm_year + 1900);
        ASSERT_EQ(strlen(expected), 25u);
        EXPECT_EQ(std::string(p.text, strnlen(p.text, sizeof p.text)), expected);
        EXPECT_EQ(p.text[25], '\0');
    }
}

TEST(TimeOfDay, ToStringOfAnUnrepresentableTimeIsEmpty)
{
    OSSTime t = {};
    t.seconds = -1;
    OSSTime::toStringParam p;
    memset(p.text, 'x', sizeof p.text);
    t.toString(&p);
    EXPECT_EQ(p.text[0], '\0');
    t.toString(nullptr);
}

TEST(MicrosecondClock, ScalesTicksExactly)
{
    struct Case {
        Uint64 elapsed, frequency, micros;
    } cases[] = {
        {0, 10000000, 0},
        {9, 10000000, 0},
        {10, 10000000, 1},
        {15000000, 10000000, 1500000},
        {1ull << 61, 10000000, 230584300921369395ull},  // about 7,300 years at 10 MHz
        {~0ull, 1000000, ~0ull},
        {5, 3, 1666666},
        {1000, 0, 0},  // never a division by zero
    };
    for (const Case& c : cases) {
        EXPECT_EQ(osse::ticksToMicroseconds(c.elapsed, c.frequency), c.micros)
            << c.elapsed << " at " << c.frequency;
    }
}
