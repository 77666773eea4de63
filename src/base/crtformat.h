// The C runtime's bounded formatter and the length modifier of its 64-bit conversions. The DLL
// formats in the dialect of the Windows runtime (_vsnprintf, "%I64u"), which its callers and
// its records rely on; the native build of the portable code uses the C library's vsnprintf.
// Both return a negative number or at least `size` when the text was cut, which the callers
// treat alike.
#ifndef OSSE_SRC_BASE_CRTFORMAT_H
#define OSSE_SRC_BASE_CRTFORMAT_H

#include <stdarg.h>
#include <stdio.h>

#ifdef _WIN32
#define OSSE_PRI64 "I64"
#define OSSE_CRT_PRINTF(fmt, first) __attribute__((format(ms_printf, fmt, first)))
#else
#define OSSE_PRI64 "ll"
#define OSSE_CRT_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#endif

namespace osse_crt {

inline int vformat(char* buffer, size_t size, const char* format, va_list args)
{
#ifdef _WIN32
    return _vsnprintf(buffer, size, format, args);
#else
    return vsnprintf(buffer, size, format, args);
#endif
}

inline int format(char* buffer, size_t size, const char* format, ...) OSSE_CRT_PRINTF(3, 4);
inline int format(char* buffer, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = vformat(buffer, size, format, args);
    va_end(args);
    return n;
}

}  // namespace osse_crt

#endif
