// The text of a diagnostic-log record.
#ifndef OSSE_SRC_DIAG_LOGTEXT_H
#define OSSE_SRC_DIAG_LOGTEXT_H

#include <stdarg.h>
#include <time.h>

#include "osse/log.h"

namespace ossdiag {

// One request of the log functions, as the log callback receives it.
struct LogRequest {
    OSSLogFacility* facility;
    Uint32 functionId;
    Uint32 calledId;     // 0 for ossLog
    Uint32 code;         // the called function's code, or the OS error number
    Uint32 messageCode;
    Uint32 probe;
    Uint32 level;
    Uint32 flags;        // OSS_LOG_FLAG_*
    Sint32 count;        // item count, or argument mask with OSS_LOG_FLAG_MASK
    va_list* items;
};

// When and where a record is written: the local time, its offset from UTC, the process and
// the thread.
struct RecordStamp {
    Uint16 year, month, day, hour, minute, second, millisecond;
    Sint32 utcOffsetMinutes;
    Uint32 pid;
    Uint64 tid;
};

// Minutes from UTC to local time, from one instant broken down both ways.
Sint32 utcOffsetMinutes(const struct tm& local, const struct tm& utc);

// Builds the record text into `record` (OSS_LOG_RECORD_MAX bytes, zero-filled first) and
// returns its length: formatRecordText with the given stamp, buildRecordText with the present
// time, process and thread.
Uint32 formatRecordText(const LogRequest& req, const RecordStamp& when, char* record);
Uint32 buildRecordText(const LogRequest& req, char* record);

}  // namespace ossdiag

#endif
