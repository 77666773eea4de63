// The few services of other subsystems that the allocator, the assertions and the platform
// identification use, in one place.
#ifndef OSSE_MEM_DEPS_H
#define OSSE_MEM_DEPS_H

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "osse/osse.h"

namespace osse_deps {

// ---- Bounded formatting, hex dump, appending to a file on a failure path --------------------
inline void hexDump(const void* data, Uint32 length, char* buffer, Uint32 size)
{
    ossHexDumpToBuffer(data, length, buffer, size, nullptr, OSS_HEXDUMP_ADDRESS);
}
using PrimitiveFile = OSSPrimitiveFileOp;

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
