// Assertion failures: the record, its destinations, the host callback and the fatal stop.
#include <windows.h>

#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <time.h>

#include "diag/assert_internal.h"
#include "diag/logfile.h"
#include "osse/osse.h"

namespace {

OSSAssertionCallback volatile g_assertionCallback = nullptr;

inline void hexDump(const void* data, Uint32 length, char* buffer, Uint32 size)
{
    ossHexDumpToBuffer(data, length, buffer, size, nullptr, OSS_HEXDUMP_ADDRESS);
}

// Items past this many are not reported (a callback sees the list ended here).
const unsigned kMaxItems = 64;
const OSSAssertDataItem kNoItems[1] = {{nullptr, 0}};

const char kRecordFormat[] =
    "%sASSERTION FAILED!!!\r\nTime       = %sExpr       = %s\r\nPID        = %u\r\n"
    "TID        = %I64u\r\nFile       = %s\r\nLine       = %u\r\n";

Uint32 failureAction(const char* expression, const char* file, Uint32 line, const char* dumpDir,
                     Uint8 fatal, const OSSAssertDataItem* items)
{
    if (OSSAssertionCallback callback = g_assertionCallback) {
        callback(expression, file, line, dumpDir, fatal, items);
        return 0;
    }

    const DWORD pid = GetCurrentProcessId();
    const Uint64 tid = (Uint64)GetCurrentThreadId();
    time_t now = time(nullptr);
    struct tm local;
    const struct tm* lt = localtime(&now);
    if (lt) local = *lt;
    char when[64];
    ossSnprintf(when, sizeof when, "%s", lt ? asctime(&local) : "\n");

    char record[256];
    ossSnprintf(record, sizeof record, kRecordFormat, fatal ? "" : "NON-FATAL ", when,
                       expression ? expression : "", (unsigned)pid, tid, file ? file : "",
                       line);

    char outName[MAX_PATH + 1] = "";
    if (dumpDir && dumpDir[0]) {
        ossSnprintf(outName, 256, "%s%cp%ut%I64u.mem", dumpDir, '\\', (unsigned)pid, tid);
    } else {
        if (_isatty(_fileno(stdout))) {
            printf("%s", record);
            for (unsigned i = 0; items[i].data && items[i].length; ++i) {
                char dump[4096];
                hexDump(items[i].data, items[i].length, dump, sizeof dump);
                printf("dump data %u:\n%s", i, dump);
            }
            fflush(stdout);
        }
        DWORD n = GetEnvironmentVariableA("OSS_DEBUG_LOG_FILE", outName, sizeof outName);
        if (n == 0 || n >= sizeof outName) {
            outName[0] = 0;
            if (const char* logFile = ossdiag::defaultFacilityLogFile())
                ossSnprintf(outName, sizeof outName, "%s", logFile);
        }
    }

    if (outName[0]) {
        OSSPrimitiveFileOp out;
        if (out.open(outName, 0x14) == 0 && out.isValid()) {
            out.seekToEnd();
            out.write(record, 0);
            for (unsigned i = 0; items[i].data && items[i].length; ++i) {
                char head[32];
                ossSnprintf(head, sizeof head, "dump data %u:\n", i);
                out.write(head, 0);
                char dump[4096];
                hexDump(items[i].data, items[i].length, dump, sizeof dump);
                if (dump[0]) out.write(dump, 0);
            }
            out.close();
        }
    }

    if (fatal) {
        OutputDebugStringA(record);
        DebugBreak();
    }
    return 0;
}

}  // namespace

namespace osse_diag {

void assertFailedWithDumpDir(const char* expression, const char* file, Uint32 line,
                             const char* dumpDir)
{
    failureAction(expression, file, line, dumpDir, 0, kNoItems);
}

}  // namespace osse_diag

extern "C" OSSE_API void ossAssertFailed(const char* expression, const char* file, Uint32 line)
{
    failureAction(expression, file, line, nullptr, 0, kNoItems);
}

extern "C" OSSE_API Uint32 ossAssertFailureAction(const char* expression, const char* file,
                                                  Uint32 line, const char* dumpDir, Uint8 fatal,
                                                  ...)
{
    OSSAssertDataItem items[kMaxItems + 1];
    unsigned count = 0;
    va_list ap;
    va_start(ap, fatal);
    while (count < kMaxItems) {
        const void* data = va_arg(ap, const void*);
        Uint32 length = va_arg(ap, Uint32);
        if (!data || !length) break;
        items[count].data = data;
        items[count].length = length;
        ++count;
    }
    va_end(ap);
    items[count].data = nullptr;
    items[count].length = 0;
    return failureAction(expression, file, line, dumpDir, fatal, items);
}

extern "C" OSSE_API OSSAssertionCallback ossSetAssertionCallback(OSSAssertionCallback callback)
{
    g_assertionCallback = callback;
    return callback;
}
