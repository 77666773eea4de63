// The diagnostic log: the writer behind ossLog, ossLogRC and ossLogSysRC, the record text, the
// facilities and their destinations.
#include <windows.h>

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "diag/diagdeps.h"
#include "diag/logtext.h"

namespace {

using namespace ossdiag;

OSSLogFacility g_defaultFacility;  // zero-filled: closed, latch free

OSSLogCallback volatile g_logCallback = nullptr;
OSSDiagLevelCallback volatile g_diagLevelCallback = nullptr;
OSSNodeNumCallback volatile g_nodeNumCallback = nullptr;

// The writing flag: the identifier of the thread that is building and writing a record, 0 when
// none. A request made by that thread while it writes (a failure of the log's own file
// operations reported through the handler) returns 0 at once, so logging never recurses;
// requests of other threads wait for it to finish.
volatile DWORD g_writingThread = 0;

constexpr Uint32 kEcfFailed = 0x90000002u;
constexpr Uint32 kEcfInvalidParameter = 0x9000000Cu;

inline OSSLogFacility* facilityOf(OSSLogFacility* facility)
{
    return facility ? facility : &g_defaultFacility;
}

// Whether a record of `level` passes the facility's filter level.
inline bool passes(Uint32 level, Uint32 filter)
{
    if (level == OSS_LEVEL_EVENT) return true;
    if (filter == OSS_LEVEL_EVENT || level == 0) return false;
    return filter >= level;
}

Uint32 sendToEventLog(const OSSLogFacility* facility, Uint32 level, const char* text)
{
    WORD type;
    switch (level) {
    case 1: case 2: case 3: type = EVENTLOG_ERROR_TYPE; break;
    case 4: type = EVENTLOG_WARNING_TYPE; break;
    case 5: type = EVENTLOG_INFORMATION_TYPE; break;
    case 6: type = EVENTLOG_SUCCESS; break;
    default: return kEcfFailed;
    }
    HANDLE source = RegisterEventSourceA(nullptr, facility->name);
    if (!source) return kEcfFailed;
    const char* strings[1] = {text};
    BOOL ok = ReportEventA(source, type, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
    return ok ? 0 : kEcfFailed;
}

Uint32 send(const OSSLogFacility* facility, Uint32 level, char* record, Uint32 length)
{
    switch (facility->destination) {
    case OSS_LOG_DEST_FILE:
        return appendToLogFile(facility, record, length) == 0 ? 0 : kEcfFailed;
    case OSS_LOG_DEST_EVENTLOG:
        return sendToEventLog(facility, level, record);
    case OSS_LOG_DEST_STDERR:
        return fprintf(stderr, "%s", record) < 0 ? kEcfFailed : 0;
    default:
        return kEcfInvalidParameter;
    }
}

// Takes the writing flag; false when the calling thread already holds it.
bool takeWritingFlag()
{
    const DWORD self = GetCurrentThreadId();
    for (unsigned spins = 0;; ++spins) {
        DWORD owner = g_writingThread;
        if (owner == self) return false;
        if (owner == 0 &&
            __atomic_compare_exchange_n(&g_writingThread, &owner, self, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED))
            return true;
        if (spins < 64)
            YieldProcessor();
        else
            pause();
    }
}

void dropWritingFlag()
{
    __atomic_store_n(&g_writingThread, (DWORD)0, __ATOMIC_RELEASE);
}

Uint32 writeRecord(const LogRequest& rq)
{
    OSSLogFacility* facility = facilityOf(rq.facility);
    if (!facility->open) return kEcfInvalidParameter;

    facility->latch.acquire();
    LogRequest req = rq;
    if (req.level == 2) req.level = OSS_LEVEL_ERROR;
    if (OSSDiagLevelCallback levelOf = g_diagLevelCallback) {
        Uint16 filter = (Uint16)facility->level;
        levelOf(&filter);
        facility->level = filter;
    }
    Uint32 rc = 0;
    if (passes(req.level, facility->level)) {
        char record[OSS_LOG_RECORD_MAX];
        Uint32 length = buildRecordText(req, record);
        rc = send(facility, req.level, record, length);
    }
    facility->latch.release();
    return rc;
}

Uint32 logRequest(const LogRequest& req)
{
    if (OSSLogCallback callback = g_logCallback)
        return callback(req.facility, req.functionId, req.calledId, req.code, req.messageCode,
                        req.probe, req.level, req.flags, req.count, req.items);

    // Reporting a failure must not change what the failing operation sees afterwards.
    const DWORD lastError = GetLastError();
    const int savedErrno = errno;
    Uint32 rc = 0;
    if (takeWritingFlag()) {
        rc = writeRecord(req);
        dropWritingFlag();
    }
    errno = savedErrno;
    SetLastError(lastError);
    return rc;
}

// Flags and count of ossLogRC and ossLogSysRC: a positive count numbers the items, 0 and
// negative values are argument masks.
inline void rcForm(LogRequest& req, Sint32 countOrMask, Uint32 extraFlags)
{
    req.flags = (countOrMask > 0 ? 0u : OSS_LOG_FLAG_MASK) | extraFlags;
    req.count = countOrMask;
}

}  // namespace

extern "C" OSSE_API Uint32 ossLog(OSSLogFacility* facility, Uint32 functionId, Uint32 messageCode,
                                  Uint32 probe, Uint32 level, Sint32 count, ...)
{
    if (count < 0) return kEcfInvalidParameter;
    va_list items;
    va_start(items, count);
    LogRequest req = {facility, functionId, 0, 0, messageCode, probe, level,
                      OSS_LOG_FLAG_LOG, count, &items};
    Uint32 rc = logRequest(req);
    va_end(items);
    return rc;
}

extern "C" OSSE_API Uint32 ossLogRC(OSSLogFacility* facility, Uint32 functionId, Uint32 calledId,
                                    Uint32 calledCode, Uint32 messageCode, Uint32 probe,
                                    Uint32 level, Sint32 countOrMask, ...)
{
    va_list items;
    va_start(items, countOrMask);
    LogRequest req = {facility, functionId, calledId, calledCode, messageCode, probe, level,
                      0, 0, &items};
    rcForm(req, countOrMask, 0);
    Uint32 rc = logRequest(req);
    va_end(items);
    return rc;
}

extern "C" OSSE_API Uint32 ossLogSysRC(OSSLogFacility* facility, Uint32 functionId,
                                       Uint32 failedCall, Uint32 osError, Uint32 messageCode,
                                       Uint32 probe, Uint32 level, Sint32 countOrMask, ...)
{
    va_list items;
    va_start(items, countOrMask);
    LogRequest req = {facility, functionId, failedCall, osError, messageCode, probe, level,
                      0, 0, &items};
    rcForm(req, countOrMask, OSS_LOG_FLAG_OSERR);
    Uint32 rc = logRequest(req);
    va_end(items);
    return rc;
}

extern "C" OSSE_API Uint32 ossLogFacOpen(const OSSLogFacOpenParam* param, OSSLogFacility* facility)
{
    if (!param || param->version < OSS_MIN_VERSION) return kEcfInvalidParameter;
    const Uint32 dest = param->destination;
    if (dest != OSS_LOG_DEST_FILE && dest != OSS_LOG_DEST_EVENTLOG && dest != OSS_LOG_DEST_STDERR)
        return kEcfInvalidParameter;
    if (param->level > OSS_LEVEL_EVENT) return kEcfInvalidParameter;
    if (dest == OSS_LOG_DEST_FILE && param->path[0] == '\0') return kEcfInvalidParameter;
    if (param->name[0] == '\0') return kEcfInvalidParameter;

    OSSLogFacility* f = facilityOf(facility);
    f->latch.init();
    f->latch.acquire();
    strncpy(f->path, param->path, sizeof f->path - 1);
    f->path[sizeof f->path - 1] = '\0';
    strncpy(f->name, param->name, sizeof f->name - 1);
    f->name[sizeof f->name - 1] = '\0';
    f->level = param->level;
    f->destination = dest;
    f->permissions = param->permissions;
    f->open = 1;
    f->latch.release();
    return 0;
}

extern "C" OSSE_API Uint32 ossLogFacClose(OSSLogFacility* facility)
{
    OSSLogFacility* f = facilityOf(facility);
    f->latch.acquire();
    f->open = 0;
    f->latch.release();
    return 0;
}

extern "C" OSSE_API Uint32 ossLogFacSetLevel(OSSLogFacility* facility, Uint32 level)
{
    OSSLogFacility* f = facilityOf(facility);
    if (!f->open) return kEcfInvalidParameter;
    f->latch.acquire();
    f->level = level;
    f->latch.release();
    return 0;
}

extern "C" OSSE_API OSSLogCallback ossSetOSSeLogCallback(OSSLogCallback callback)
{
    g_logCallback = callback;
    return callback;
}

extern "C" OSSE_API OSSDiagLevelCallback ossSetDiagLevelCallback(OSSDiagLevelCallback callback)
{
    g_diagLevelCallback = callback;
    return callback;
}

extern "C" OSSE_API OSSNodeNumCallback ossSetNodeNumCallback(OSSNodeNumCallback callback)
{
    g_nodeNumCallback = callback;
    return callback;
}
