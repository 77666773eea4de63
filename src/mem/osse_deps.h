// The few services of other subsystems that the allocator, the assertions and the platform
// identification use, in one place. Each forwards to the real service once it is in the tree;
// until then a minimal local version keeps the callers building.
#ifndef OSSE_MEM_DEPS_H
#define OSSE_MEM_DEPS_H

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "osse/osse.h"

namespace osse_deps {

// ---- Bounded formatting and hex dump ---------------------------------------------------------
#ifdef OSS_HEXDUMP_LINE_SIZE
#define OSSE_DEPS_SNPRINTF ossSnprintf
inline void hexDump(const void* data, Uint32 length, char* buffer, Uint32 size)
{
    ossHexDumpToBuffer(data, length, buffer, size, nullptr, OSS_HEXDUMP_ADDRESS);
}
#else
inline size_t standinSnprintf(char* buffer, size_t size, const char* format, ...)
{
    if (!buffer || !size) return 0;
    va_list ap;
    va_start(ap, format);
    int n = _vsnprintf(buffer, size, format, ap);
    va_end(ap);
    buffer[size - 1] = 0;
    return (n < 0 || (size_t)n >= size) ? size - 1 : (size_t)n;
}
#define OSSE_DEPS_SNPRINTF ::osse_deps::standinSnprintf
inline void hexDump(const void* data, Uint32 length, char* buffer, Uint32 size)
{
    size_t used = 0;
    buffer[0] = 0;
    const Uint8* p = (const Uint8*)data;
    for (Uint32 i = 0; i < length && used + 80 < size; i += 16) {
        used += standinSnprintf(buffer + used, size - used, "0x%08X : ", (unsigned)(size_t)(p + i));
        for (Uint32 j = i; j < i + 16 && j < length; ++j)
            used += standinSnprintf(buffer + used, size - used, "%02X", p[j]);
        used += standinSnprintf(buffer + used, size - used, "\r\n");
    }
}
#endif

// ---- Appending to a file on a failure path ----------------------------------------------------
#ifdef OSS_PRIMFILE_READ
using PrimitiveFile = OSSPrimitiveFileOp;
#else
class PrimitiveFile {
public:
    PrimitiveFile() = default;
    ~PrimitiveFile() { close(); }
    int open(const char* name, Uint32)
    {
        h_ = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return h_ == INVALID_HANDLE_VALUE ? (int)GetLastError() : 0;
    }
    bool isValid() const { return h_ != INVALID_HANDLE_VALUE; }
    void seekToEnd() { SetFilePointer(h_, 0, nullptr, FILE_END); }
    int write(const void* buffer, Uint32 length)
    {
        if (!isValid()) return 0;
        if (!length) length = (Uint32)strlen((const char*)buffer);
        DWORD done = 0;
        return WriteFile(h_, buffer, length, &done, nullptr) ? 0 : (int)GetLastError();
    }
    void close()
    {
        if (isValid()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};
#endif

// ---- Diagnostic log and the system error handler ------------------------------------------------

// Reports a failed malloc of `total` bytes under _ossMemAlloc's identifier; returns the code the
// caller returns.
Uint32 reportAllocFailure(Uint32 osError, Uint32 total, Uint32 flags);
// Logs a release of a null address (message code ECF_MEM_NULL_POINTER, the text as one item).
void logNullFree(const char* text);
// A failed module or function lookup of the terminal-services checks: maps the error and writes
// one ossLogSysRC record with the name as argument 1.
void logLookupFailure(Uint32 failedCall, Uint32 osError, Uint32 probe, const char* name);
// The log file of the default log facility when it is open, else null.
const char* defaultFacilityLogFile();

}  // namespace osse_deps

#endif
