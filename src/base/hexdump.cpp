// Hexadecimal dump lines and buffers in the fixed column layout:
//
//   [0x%08X : ]XXXX XXXX XXXX XXXX XXXX XXXX XXXX XXXX   cccccccccccccccc\r\n
//
// The character column starts at 43 (56 with the address); a full line is 61 characters
// (74 with the address) including the "\r\n". On x86_64 the address has 16 digits, which
// moves the character column to 64 and makes a full line 82 characters.
#include <string.h>

#include "osse/strutil.h"

namespace {

constexpr Uint32 kLineChars = OSS_HEXDUMP_LINE_SIZE - 1;  // 74 (82 on x86_64)
constexpr Uint32 kBytesPerLine = 16;
constexpr Uint32 kAddressWidth = OSS_HEXDUMP_ADDRESS_DIGITS + 5;  // "0x%08X : "
constexpr Uint32 kCharColumn = 43;

const char kHexDigits[] = "0123456789ABCDEF";

// Writes "0x" and the value as `digits` upper-case hexadecimal digits; returns the end.
char* putHexValue(char* out, Uint64 value, unsigned digits)
{
    *out++ = '0';
    *out++ = 'x';
    for (unsigned i = digits; i-- > 0;) *out++ = kHexDigits[(value >> (4 * i)) & 0xF];
    return out;
}

// Reads `length` bytes (1, 2, 4 or 8) as one little-endian number.
Uint64 readValue(const unsigned char* p, Uint32 length)
{
    Uint64 v = 0;
    for (Uint32 i = length; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

}  // namespace

extern "C" OSSE_API void ossHexDumpLine(char* line, const void* data, Uint32 length, Uint32 flags)
{
    if (!line) return;
    memset(line, ' ', kLineChars);
    line[kLineChars] = '\0';
    if (!data) length = 0;
    if (length > kBytesPerLine) length = kBytesPerLine;

    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    char* out = line;
    Uint32 charColumn = kCharColumn;

    if (flags & OSS_HEXDUMP_ADDRESS) {
        out = putHexValue(out, reinterpret_cast<uintptr_t>(data), OSS_HEXDUMP_ADDRESS_DIGITS);
        memcpy(out, " : ", 3);
        out += 3;
        charColumn += kAddressWidth;
    }

    if ((flags & OSS_HEXDUMP_AS_VALUE) && (length == 1 || length == 2 || length == 4 || length == 8)) {
        out = putHexValue(out, readValue(bytes, length), length * 2);
        *out++ = ' ';
    } else {
        for (Uint32 i = 0; i < length; ++i) {
            *out++ = kHexDigits[bytes[i] >> 4];
            *out++ = kHexDigits[bytes[i] & 0xF];
            if (i & 1) *out++ = ' ';
        }
    }

    Uint32 pos = charColumn;
    if (!(flags & OSS_HEXDUMP_NO_CHARS)) {
        for (Uint32 i = 0; i < length; ++i)
            line[pos++] = (bytes[i] >= 0x20 && bytes[i] <= 0x7E) ? static_cast<char>(bytes[i]) : '.';
    }
    // The line end goes right after the last character when it fits; otherwise the line
    // stays cut at its full length.
    if (pos + 2 < OSS_HEXDUMP_LINE_SIZE) memcpy(line + pos, "\r\n", 3);
}

extern "C" OSSE_API void ossHexDumpToBuffer(const void* data, Uint32 length, char* buffer,
                                            Uint32 bufferSize, const char* prefix, Uint32 flags)
{
    if (!buffer || bufferSize == 0) return;
    buffer[0] = '\0';
    if (!data || length == 0) return;

    const size_t prefixLength = prefix ? strlen(prefix) : 0;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    size_t used = 0;
    char line[OSS_HEXDUMP_LINE_SIZE];

    for (Uint32 remaining = length; remaining > 0;) {
        const Uint32 count = remaining < kBytesPerLine ? remaining : kBytesPerLine;
        ossHexDumpLine(line, bytes, count, flags);
        bytes += count;
        remaining -= count;
        const size_t lineLength = strlen(line);
        const size_t left = bufferSize - used;
        if (left <= prefixLength + lineLength + 2) break;
        if (prefixLength) {
            memcpy(buffer + used, prefix, prefixLength);
            used += prefixLength;
        }
        memcpy(buffer + used, line, lineLength + 1);
        used += lineLength;
    }
}
