// Bounded formatting, 64-bit number parsing, Boolean words and the comparison of blank-padded
// strings: the string utilities that need nothing but the C library.
#include "base/strtext.h"

#include <ctype.h>
#include <errno.h>
#include <stdarg.h>
#include <string.h>

#include "base/crtformat.h"
#include "osse/ecf.h"
#include "osse/strutil.h"

namespace {

inline bool isSpace(char c)
{
    return isspace(static_cast<unsigned char>(c)) != 0;
}

inline unsigned char asciiLower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Value of c as a digit of any base up to 36, or 36 when it is no digit at all.
inline int digitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 36;
}

// Outcome of scanning a number: its magnitude (saturated at the limit for its sign), the sign
// and whether the magnitude was out of range.
struct Scan {
    Uint64 magnitude = 0;
    bool negative = false;
    bool overflow = false;
};

// The common part of both parsers. limitPlus / limitMinus are the largest magnitudes that a
// positive / negative number may have.
Scan scanNumber(const char* str, char** end, int base, Uint64 limitPlus, Uint64 limitMinus)
{
    Scan scan;
    const char* p = str;
    const char* stop = str;  // where *end points when nothing is converted

    if (!str) {
        if (end) *end = nullptr;
        return scan;
    }
    while (isSpace(*p)) ++p;
    if (*p == '+' || *p == '-') {
        scan.negative = (*p == '-');
        ++p;
    }
    if (*p == '\0' || isSpace(*p) || base < 0 || base == 1 || base > 36) {
        if (base < 0 || base == 1 || base > 36) errno = EINVAL;
        if (end) *end = const_cast<char*>(stop);
        scan.negative = false;
        return scan;
    }

    bool converted = false;
    if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        if (digitValue(p[2]) >= 16) {
            // "0x" without a hexadecimal digit: the '0' alone is the number.
            if (end) *end = const_cast<char*>(p + 1);
            scan.negative = false;
            return scan;
        }
        base = 16;
        p += 2;
    } else if (base == 0) {
        base = (p[0] == '0') ? 8 : 10;
    }
    if (base == 8 && *p == '0') {
        ++p;
        converted = true;
    }

    const Uint64 limit = scan.negative ? limitMinus : limitPlus;
    const Uint64 ubase = static_cast<Uint64>(base);
    for (int d; (d = digitValue(*p)) < base; ++p) {
        converted = true;
        if (scan.overflow) continue;  // the remaining digits are still part of the number
        const Uint64 ud = static_cast<Uint64>(d);
        if (scan.magnitude > (limit - ud) / ubase) {
            scan.overflow = true;
            scan.magnitude = limit;
        } else {
            scan.magnitude = scan.magnitude * ubase + ud;
        }
    }
    if (!converted) {
        if (end) *end = const_cast<char*>(stop);
        scan.negative = false;
        return scan;
    }
    if (end) *end = const_cast<char*>(p);
    if (scan.overflow) errno = ERANGE;
    return scan;
}

bool equalsIgnoringCase(const char* s, const char* word)
{
    for (; *word; ++s, ++word) {
        if (asciiLower(static_cast<unsigned char>(*s)) != asciiLower(static_cast<unsigned char>(*word)))
            return false;
    }
    return *s == '\0';
}

}  // namespace

extern "C" OSSE_API size_t ossSnprintf(char* buffer, size_t size, const char* format, ...)
{
    if (!buffer || size == 0) return 0;
    if (!format) {
        buffer[0] = '\0';
        return 0;
    }
    va_list args;
    va_start(args, format);
    const int n = osse_crt::vformat(buffer, size, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < size) {
        buffer[n] = '\0';
        return static_cast<size_t>(n);
    }
    buffer[size - 1] = '\0';
    return size - 1;
}

extern "C" OSSE_API Sint64 ossStrToSint64(const char* str, char** end, int base)
{
    const Uint64 maxPlus = 0x7FFFFFFFFFFFFFFFull;
    const Scan s = scanNumber(str, end, base, maxPlus, maxPlus + 1);
    if (s.overflow)
        return s.negative ? static_cast<Sint64>(0x8000000000000000ull) : static_cast<Sint64>(maxPlus);
    // The magnitude of a negative number may be 2^63: negate in unsigned arithmetic.
    return static_cast<Sint64>(s.negative ? 0 - s.magnitude : s.magnitude);
}

extern "C" OSSE_API Uint64 ossStrToUint64(const char* str, char** end, int base)
{
    const Uint64 maxAll = 0xFFFFFFFFFFFFFFFFull;
    const Scan s = scanNumber(str, end, base, maxAll, maxAll);
    if (s.overflow) return maxAll;
    return s.negative ? 0 - s.magnitude : s.magnitude;
}

extern "C" OSSE_API OSSErr ossStrToBoolean(const char* str, bool* value)
{
    static const char* const kTrueWords[] = {"1", "ON", "Y", "YES", "T", "TRUE"};
    static const char* const kFalseWords[] = {"0", "OFF", "N", "NO", "F", "FALSE"};

    bool result = false;
    OSSErr rc = ECF_OSS_NOT_BOOLEAN_STRING;
    if (str) {
        for (const char* w : kTrueWords) {
            if (equalsIgnoringCase(str, w)) {
                result = true;
                rc = OSS_OK;
            }
        }
        for (const char* w : kFalseWords) {
            if (equalsIgnoringCase(str, w)) rc = OSS_OK;
        }
    }
    if (value) *value = result;
    return rc;
}

namespace osse_str {

PadPlan planPadding(const char* a, const char* b)
{
    const size_t lenA = strlen(a);
    const size_t lenB = strlen(b);
    PadPlan plan;
    plan.padB = lenA >= lenB;
    plan.longer = plan.padB ? lenA : lenB;
    plan.shorter = plan.padB ? lenB : lenA;
    return plan;
}

int comparePadded(const char* a, const char* b, const PadPlan& plan, Uint32 mode, char* copy)
{
    memcpy(copy, plan.padB ? b : a, plan.shorter);
    memset(copy + plan.shorter, ' ', plan.longer - plan.shorter);
    copy[plan.longer] = '\0';

    const unsigned char* x = reinterpret_cast<const unsigned char*>(plan.padB ? a : copy);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(plan.padB ? copy : b);
    int result = 0;
    for (size_t i = 0; i < plan.longer && result == 0; ++i) {
        if (mode == OSS_STRCOMP_EXACT)
            result = static_cast<int>(x[i]) - static_cast<int>(y[i]);
        else
            result = static_cast<int>(asciiLower(x[i])) - static_cast<int>(asciiLower(y[i]));
    }
    return result;
}

}  // namespace osse_str
