// Reading the value argument of `ossetool ecf` (see ecfvalue.h).
#include "ecfvalue.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>

bool parseEcfValue(const char* text, Uint32* value)
{
    if (text[0] == '-') {
        Uint32 magnitude = 0;
        if (text[1] == '-' || text[1] == '+' || (text[1] == '0' && (text[2] == 'x' || text[2] == 'X')))
            return false;
        if (!parseEcfValue(text + 1, &magnitude) || magnitude == 0 || magnitude > 0x80000000u)
            return false;
        *value = 0u - magnitude;
        return true;
    }
    const char* digits = text;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        digits = text + 2;
        base = 16;
    }
    if (*digits == '\0') return false;
    for (const char* p = digits; *p; ++p) {
        bool ok = base == 16 ? isxdigit((unsigned char)*p) != 0 : (*p >= '0' && *p <= '9');
        if (!ok) return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long v = strtoull(digits, &end, base);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
    *value = (Uint32)v;
    return true;
}
