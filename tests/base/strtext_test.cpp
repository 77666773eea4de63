// Bounded formatting, 64-bit number parsing, Boolean words and the blank-padded comparison:
// the parts that need nothing but the C library, checked in the DLL and in the native build.
#include <errno.h>
#include <string.h>

#include <string>

#include "osse/osse.h"
#include "osse_test.h"

#ifndef _WIN32
#include <vector>

#include "base/strtext.h"
#endif

namespace {

#ifdef _WIN32
int compareWithPads(const char* a, const char* b, Uint32 mode)
{
    return ossStrCompWithPads(a, b, mode);
}
#else
// The native build has no library allocator: the padded copy comes from the heap.
int compareWithPads(const char* a, const char* b, Uint32 mode)
{
    const osse_str::PadPlan plan = osse_str::planPadding(a, b);
    std::vector<char> copy(plan.longer + 1);
    return osse_str::comparePadded(a, b, plan, mode, copy.data());
}
#endif

TEST(StrSnprintf, AlwaysTerminatesAndReturnsWhatTheBufferHolds)
{
    const char* text = "abcdefghijklmnopqrst";  // 20 characters
    struct Case {
        size_t size;
        size_t expected;
    } cases[] = {
        {8, 7},    // cut: 7 characters and the terminator
        {20, 19},  // exactly the text length: the runtime leaves it unterminated, we do not
        {21, 20},  // fits with its terminator
        {64, 20},
        {1, 0},
    };
    for (const Case& c : cases) {
        char buf[80];
        memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(ossSnprintf(buf, c.size, "%s", text), c.expected) << "size " << c.size;
        EXPECT_EQ(std::string(buf), std::string(text, c.expected)) << "size " << c.size;
        EXPECT_EQ(buf[c.size], 'Z') << "wrote past the buffer, size " << c.size;
    }
}

struct SignedCase {
    const char* text;
    int base;
    Sint64 value;
    size_t endOffset;
    bool range;  // errno set to ERANGE
};

TEST(StrToSint64, StrtollSemantics)
{
    const SignedCase cases[] = {
        {"  -0x1A", 0, -26, 7, false},
        {"9223372036854775807", 10, INT64_MAX, 19, false},
        {"9223372036854775808", 10, INT64_MAX, 19, true},
        {"-9223372036854775808", 10, INT64_MIN, 20, false},
        {"-9223372036854775809", 10, INT64_MIN, 20, true},
        {"123456789012345678901234567890xyz", 10, INT64_MAX, 30, true},  // all digits used
        {"-99999999999999999999999", 0, INT64_MIN, 24, true},
        {"\t\n +42 rest", 10, 42, 6, false},
        {"42abc", 10, 42, 2, false},
        {"+7", 10, 7, 2, false},
        {"0755", 0, 0755, 4, false},
        {"0755", 8, 0755, 4, false},
        {"089", 0, 0, 1, false},   // octal: '8' ends the number after the '0'
        {"0", 0, 0, 1, false},
        {"0", 8, 0, 1, false},
        {"0x", 0, 0, 1, false},    // the end points at the 'x'
        {"0xg", 16, 0, 1, false},
        {"0XfF", 16, 255, 4, false},
        {"ff", 16, 255, 2, false},
        {"Zz", 36, 35 * 36 + 35, 2, false},
        {"1012", 2, 5, 3, false},
        {"7fffffffffffffff", 16, INT64_MAX, 16, false},
        {"8000000000000000", 16, INT64_MAX, 16, true},
        {"-8000000000000000", 16, INT64_MIN, 17, false},
        // Nothing converted: 0 with the end at the start of the string.
        {"", 10, 0, 0, false},
        {"   ", 10, 0, 0, false},
        {"-", 10, 0, 0, false},
        {"- 5", 10, 0, 0, false},
        {"+ 5", 10, 0, 0, false},
        {"  abc", 10, 0, 0, false},
        {"--5", 10, 0, 0, false},
    };
    for (const SignedCase& c : cases) {
        errno = 0;
        char* end = nullptr;
        EXPECT_EQ(ossStrToSint64(c.text, &end, c.base), c.value) << '"' << c.text << "\" base " << c.base;
        EXPECT_EQ(static_cast<size_t>(end - c.text), c.endOffset) << '"' << c.text << '"';
        EXPECT_EQ(errno, c.range ? 34 : 0) << '"' << c.text << '"';
    }
    EXPECT_EQ(ossStrToSint64("-12", nullptr, 10), -12);  // no end pointer wanted
}

struct UnsignedCase {
    const char* text;
    int base;
    Uint64 value;
    size_t endOffset;
    bool range;
};

TEST(StrToUint64, StrtoullSemantics)
{
    const UnsignedCase cases[] = {
        {"0x", 16, 0, 1, false},
        {"0x", 0, 0, 1, false},
        {"18446744073709551615", 10, UINT64_MAX, 20, false},
        {"18446744073709551616", 10, UINT64_MAX, 20, true},
        {"-18446744073709551616", 10, UINT64_MAX, 21, true},  // saturates whatever the sign
        {"-1", 10, UINT64_MAX, 2, false},                      // negated modulo 2^64
        {"-2", 10, UINT64_MAX - 1, 2, false},
        {"ffffffffffffffff", 16, UINT64_MAX, 16, false},
        {"0x10000000000000000", 0, UINT64_MAX, 19, true},
        {"01777777777777777777777", 0, UINT64_MAX, 23, false},
        {"02000000000000000000000", 0, UINT64_MAX, 23, true},
        {" +0x7b;", 0, 123, 6, false},
        {"12", 10, 12, 2, false},
        {"", 0, 0, 0, false},
        {"x1", 16, 0, 0, false},
    };
    for (const UnsignedCase& c : cases) {
        errno = 0;
        char* end = nullptr;
        EXPECT_EQ(ossStrToUint64(c.text, &end, c.base), c.value) << '"' << c.text << "\" base " << c.base;
        EXPECT_EQ(static_cast<size_t>(end - c.text), c.endOffset) << '"' << c.text << '"';
        EXPECT_EQ(errno, c.range ? 34 : 0) << '"' << c.text << '"';
    }
}

TEST(StrToNumber, InvalidBaseConvertsNothing)
{
    for (int base : {1, 37, -2}) {
        char* end = nullptr;
        const char* text = "11";
        EXPECT_EQ(ossStrToSint64(text, &end, base), 0) << base;
        EXPECT_EQ(end, text);
        EXPECT_EQ(ossStrToUint64(text, &end, base), 0u) << base;
        EXPECT_EQ(end, text);
    }
}

TEST(StrToBoolean, WordsInAnyCase)
{
    const struct {
        const char* text;
        bool value;
        OSSErr rc;
    } cases[] = {
        {"1", true, 0},       {"on", true, 0},      {"Y", true, 0},       {"yes", true, 0},
        {"YeS", true, 0},     {"t", true, 0},       {"TRUE", true, 0},    {"True", true, 0},
        {"0", false, 0},      {"OFF", false, 0},    {"n", false, 0},      {"No", false, 0},
        {"f", false, 0},      {"false", false, 0},  {"maybe", false, 0x900003F1u},
        {"", false, 0x900003F1u},     {"yes ", false, 0x900003F1u}, {" yes", false, 0x900003F1u},
        {"ye", false, 0x900003F1u},   {"truex", false, 0x900003F1u}, {"2", false, 0x900003F1u},
    };
    for (const auto& c : cases) {
        bool value = !c.value;
        EXPECT_EQ(ossStrToBoolean(c.text, &value), c.rc) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
    bool value = true;
    EXPECT_EQ(ossStrToBoolean(nullptr, &value), 0x900003F1u);
    EXPECT_FALSE(value);
}

int sign(int v)
{
    return (v > 0) - (v < 0);
}

TEST(StrCompWithPads, ShorterStringIsBlankPadded)
{
    const struct {
        const char* a;
        const char* b;
        Uint32 mode;
        int sign;
    } cases[] = {
        {"ab", "ab  ", 1, 0},
        {"ab  ", "ab", 1, 0},
        {"AB", "ab ", 0, 0},
        {"ab ", "AB", 0, 0},
        {"AB", "ab ", 1, -1},   // exact mode: 'A' < 'a'
        {"", "   ", 1, 0},
        {"", "", 1, 0},
        {"ab", "abc", 1, -1},   // ' ' < 'c'
        {"abc", "ab", 1, 1},
        {"ab", "ab\t", 1, 1},   // ' ' > '\t': padding is a blank, not the end of the string
        {"ab\t", "ab", 0, -1},
        {"abc", "abd", 0, -1},
        {"Abd", "aBC", 0, 1},
        {"a\xE9", "a\xC9", 0, 1},  // only ASCII letters fold
        {"\xFF", "a", 1, 1},       // bytes compare unsigned
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign(compareWithPads(c.a, c.b, c.mode)), c.sign)
            << '"' << c.a << "\" \"" << c.b << "\" mode " << c.mode;
    }
}

TEST(StrCompWithPads, LongStringsCompareAllTheWay)
{
    std::string a(5000, 'x');
    const std::string b(3000, 'X');
    EXPECT_GT(compareWithPads(a.c_str(), b.c_str(), 0), 0);  // 'x' > ' ' at position 3000
    a.replace(3000, 2000, 2000, ' ');
    EXPECT_EQ(compareWithPads(a.c_str(), b.c_str(), 0), 0);
    EXPECT_EQ(compareWithPads(b.c_str(), a.c_str(), 0), 0);
    EXPECT_GT(compareWithPads(a.c_str(), b.c_str(), 1), 0);
}

}  // namespace
