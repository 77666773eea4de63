/* String and hex-dump utilities shared by the library and the product's other modules: a
 * bounded formatter that always terminates, 64-bit number parsers, a Boolean word parser, a
 * blank-padded comparison and a hexadecimal dump in a fixed line layout. */
#ifndef OSSE_STRUTIL_H
#define OSSE_STRUTIL_H

#include "osse/base.h"

#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__GNUC__) && defined(_WIN32)
/* Lets the compiler check a printf-style format in the C runtime's dialect. */
#define OSSE_MS_PRINTF(fmt, first) __attribute__((__format__(ms_printf, fmt, first)))
#elif defined(__GNUC__)
/* Built for another system (the native build of the portable code): the C library's dialect. */
#define OSSE_MS_PRINTF(fmt, first) __attribute__((__format__(printf, fmt, first)))
#else
#define OSSE_MS_PRINTF(fmt, first)
#endif

/* Formats with the C runtime's _vsnprintf into buffer[size]. The buffer is always terminated
 * (when size is at least 1) and the result is the length of what it holds: the full length
 * when it fits, size - 1 when the text was cut or the formatter failed. A null buffer or a
 * size of 0 writes nothing and returns 0. */
OSSE_C_API size_t ossSnprintf(char* buffer, size_t size, const char* format, ...)
    OSSE_MS_PRINTF(3, 4);

/* strtoll / strtoull: leading white space, one sign, base 0 or 2 to 36 ("0x" prefix for 16,
 * leading '0' for 8 under base 0). Out of range: errno = ERANGE (34) and the result
 * saturates (signed: INT64_MAX, or INT64_MIN with '-'; unsigned: UINT64_MAX whatever the
 * sign). *end (when end is not null) receives the first character not used, or str itself
 * when nothing was converted. */
OSSE_C_API Sint64 ossStrToSint64(const char* str, char** end, int base);
/* The unsigned form: saturates at UINT64_MAX. */
OSSE_C_API Uint64 ossStrToUint64(const char* str, char** end, int base);

/* "1", "ON", "Y", "YES", "T", "TRUE" give true; "0", "OFF", "N", "NO", "F", "FALSE" give false
 * (any case), both with 0. Anything else gives false and ECF_OSS_NOT_BOOLEAN_STRING. */
OSSE_C_API OSSErr ossStrToBoolean(const char* str, bool* value);

/* Compare modes of ossStrCompWithPads. */
#define OSS_STRCOMP_CASE_INSENSITIVE 0u
#define OSS_STRCOMP_EXACT            1u

/* Compares a and b as if the shorter were padded with blanks to the length of the longer:
 * byte for byte in mode OSS_STRCOMP_EXACT, ignoring the case of ASCII letters otherwise.
 * Negative, 0 or positive; -1 also when the padded copy cannot be allocated (logged). */
OSSE_C_API int ossStrCompWithPads(const char* a, const char* b, Uint32 mode);

/* Hex dump flags. */
#define OSS_HEXDUMP_AS_VALUE   0x1u /* a length of 1, 2, 4 or 8 prints as one number */
#define OSS_HEXDUMP_ADDRESS    0x2u /* each line starts with the address of its data */
#define OSS_HEXDUMP_NO_CHARS   0x4u /* no character column */

/* Digits of the address that OSS_HEXDUMP_ADDRESS puts in front of a line: an address is
 * printed whole, 8 digits on i686 and 16 on x86_64. */
#if OSSE_PTR32
#define OSS_HEXDUMP_ADDRESS_DIGITS 8u
#else
#define OSS_HEXDUMP_ADDRESS_DIGITS 16u
#endif
/* Size of the line buffer ossHexDumpLine needs: 74 characters and the terminator on i686,
 * 82 and the terminator on x86_64. */
#define OSS_HEXDUMP_LINE_SIZE (67u + OSS_HEXDUMP_ADDRESS_DIGITS)

/* Formats up to 16 bytes as one dump line ending in "\r\n" into line[OSS_HEXDUMP_LINE_SIZE]:
 * [address "0x%08X : ", 16 digits on x86_64] hex bytes in pairs, then from column 43 (56 with
 * the address, 64 on x86_64) the bytes as characters ('.' when not printable). A length above
 * 16 is taken as 16. */
OSSE_C_API void ossHexDumpLine(char* line, const void* data, Uint32 length, Uint32 flags);

/* Dumps length bytes as lines of 16 into buffer[bufferSize], each line after prefix (when not
 * null). Lines are appended while they fit with room to spare; the first that does not ends
 * the dump. The buffer is always terminated; a null buffer or size 0 does nothing. */
OSSE_C_API void ossHexDumpToBuffer(const void* data, Uint32 length, char* buffer,
                                   Uint32 bufferSize, const char* prefix, Uint32 flags);

#endif
