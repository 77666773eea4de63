// Bounded formatting, 64-bit number parsing, Boolean words and the blank-padded comparison.
#include <ctype.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "osse/ecf.h"
#include "osse/error.h"
#include "osse/log.h"
#include "osse/mem.h"
#include "osse/strutil.h"

namespace {

constexpr Uint32 kFidStrCompWithPads = OSS_FUNC_ID(OSS_FN_ossStrCompWithPads);  // 0x081A00BA
constexpr Uint32 kFidMemAlloc = OSS_FUNC_ID(OSS_FN_ossMemAlloc);                // 0x081A0058
static_assert(kFidStrCompWithPads == 0x081A00BAu && kFidMemAlloc == 0x081A0058u, "identifiers");
constexpr Sint32 kArgMaskFirst = static_cast<Sint32>(0x80000001u);  // argument 1 only

// ---------------------------------------------------------------------------------------------
// The padded copy comes from the library allocator, so memory debugging sees it.
OSSErr strAlloc(void** pp, Uint32 size)
{
    return OSS_MEM_ALLOC(pp, size, 0);
}

void strFree(void** pp)
{
    OSS_MEM_FREE(pp);
}

// A failed allocation of the padded copy: one record naming the allocator, its code and the
// size asked for (argument 1, unsigned, 4 bytes).
void logAllocFailure(OSSErr rc, Uint32 probe, Uint32 size)
{
    ossLogRC(nullptr, kFidStrCompWithPads, kFidMemAlloc, rc, 0, probe, OSS_LEVEL_ERROR, kArgMaskFirst,
             &size, static_cast<Sint32>(sizeof size), OSS_ITEM_UNSIGNED);
}

// ---------------------------------------------------------------------------------------------

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
    const int n = _vsnprintf(buffer, size, format, args);
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

extern "C" OSSE_API int ossStrCompWithPads(const char* a, const char* b, Uint32 mode)
{
    if (!a) a = "";
    if (!b) b = "";
    const size_t lenA = strlen(a);
    const size_t lenB = strlen(b);

    // The shorter string (b when they are of equal length) is copied and blank-padded.
    const bool padB = lenA >= lenB;
    const size_t longer = padB ? lenA : lenB;
    const size_t shorter = padB ? lenB : lenA;
    const Uint32 size = static_cast<Uint32>(longer + 1);

    void* mem = nullptr;
    const OSSErr rc = strAlloc(&mem, size);
    if (rc != OSS_OK || !mem) {
        logAllocFailure(rc, padB ? 10u : 20u, size);
        return -1;
    }
    char* padded = static_cast<char*>(mem);
    memcpy(padded, padB ? b : a, shorter);
    memset(padded + shorter, ' ', longer - shorter);
    padded[longer] = '\0';

    const unsigned char* x = reinterpret_cast<const unsigned char*>(padB ? a : padded);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(padB ? padded : b);
    int result = 0;
    for (size_t i = 0; i < longer && result == 0; ++i) {
        if (mode == OSS_STRCOMP_EXACT)
            result = static_cast<int>(x[i]) - static_cast<int>(y[i]);
        else
            result = static_cast<int>(asciiLower(x[i])) - static_cast<int>(asciiLower(y[i]));
    }
    strFree(&mem);
    return result;
}
