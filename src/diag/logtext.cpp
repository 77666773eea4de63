// The diagnostic-log record's time, process and thread, from the system; the text itself is
// built by logformat.cpp.
#include "diag/logtext.h"

#include <windows.h>

#include <time.h>

#include "osse/tick.h"

namespace ossdiag {

namespace {

// The seconds straight from the system clock: the C runtime's time functions also settle the
// time zone on every call, which costs more than building the rest of a record.
Sint64 utcNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const Uint64 ticks = ((Uint64)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return (Sint64)(ticks / 10000000u) - 11644473600ll;  // 100 ns since 1601 -> s since 1970
}

}  // namespace

Uint32 buildRecordText(const LogRequest& req, char* record)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    const Sint64 seconds = utcNow();
    struct tm local, utc;
    ossTimeLocalTime(seconds, &local);
    ossTimeGmTime(seconds, &utc);

    RecordStamp when;
    when.year = now.wYear;
    when.month = now.wMonth;
    when.day = now.wDay;
    when.hour = now.wHour;
    when.minute = now.wMinute;
    when.second = now.wSecond;
    when.millisecond = now.wMilliseconds;
    when.utcOffsetMinutes = utcOffsetMinutes(local, utc);
    when.pid = (Uint32)GetCurrentProcessId();
    when.tid = (Uint64)GetCurrentThreadId();
    return formatRecordText(req, when, record);
}

}  // namespace ossdiag
