// The diagnostic log: the writer behind ossLog, ossLogRC and ossLogSysRC, the record text, the
// facilities and their destinations.
#include <windows.h>

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "diag/logfile.h"
#include "diag/logtext.h"
#include "osse/tick.h"

namespace {

using namespace ossdiag;

OSSLogFacility g_defaultFacility;  // zero-filled: closed, latch free

OSSLogCallback volatile g_logCallback = nullptr;
OSSDiagLevelCallback volatile g_diagLevelCallback = nullptr;
OSSNodeNumCallback volatile g_nodeNumCallback = nullptr;

// The writing flag: the identifier of the thread that is building and writing a record, 0 when
// none. Requests of other threads wait for it to finish, for at most kWriterWaitLimitMs: a writer
// stuck in the file-lock wait of the file destination (a log file locked by a hung process)
// must not stall every logging thread of the process with it. A request that gives up is
// counted in g_giveUps (ossLogGetGiveUpCount) and returns ECF_TIMEOUT.
volatile DWORD g_writingThread = 0;
volatile Uint32 g_giveUps = 0;
constexpr DWORD kWriterWaitLimitMs = 2000;

// Marks the threads that are inside the log: writing, waiting for the writer, or running a
// callback the log called (the log callback, the diagnostic-level callback, the yield callbacks
// of the wait). A request from a marked thread is a nested request: it returns 0 at once, so a
// host callback that logs cannot make the log recurse. The mark lives in a thread-local slot
// taken at the first request; without one (the process ran out of slots) only the writer's own
// nested requests are recognised, by the writing flag, and the wait does not run the yield
// callbacks.
DWORD volatile g_nestSlot = TLS_OUT_OF_INDEXES;

// Released at unload; a request made later (from another module's unload) goes on without it.
struct NestSlotRelease {
    ~NestSlotRelease()
    {
        const DWORD slot = __atomic_exchange_n(&g_nestSlot, (DWORD)TLS_OUT_OF_INDEXES, __ATOMIC_ACQ_REL);
        if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
    }
} g_nestSlotRelease;

DWORD nestSlot()
{
    DWORD slot = __atomic_load_n(&g_nestSlot, __ATOMIC_ACQUIRE);
    if (slot != TLS_OUT_OF_INDEXES) return slot;
    const DWORD mine = TlsAlloc();
    if (mine == TLS_OUT_OF_INDEXES) return mine;
    if (__atomic_compare_exchange_n(&g_nestSlot, &slot, mine, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE))
        return mine;
    TlsFree(mine);  // another thread took the slot first
    return slot;
}

// Marks the calling thread as inside the log for its lifetime; nested() tells a request made
// while the thread was already inside.
class InsideLog {
public:
    InsideLog() : slot_(nestSlot())
    {
        if (slot_ == TLS_OUT_OF_INDEXES) return;
        nested_ = TlsGetValue(slot_) != nullptr;
        if (!nested_) TlsSetValue(slot_, (LPVOID)1);
    }
    ~InsideLog()
    {
        if (slot_ != TLS_OUT_OF_INDEXES && !nested_) TlsSetValue(slot_, nullptr);
    }
    bool nested() const { return nested_; }
    bool marked() const { return slot_ != TLS_OUT_OF_INDEXES; }

private:
    DWORD slot_;
    bool nested_ = false;
};

constexpr Uint32 kEcfFailed = 0x90000002u;
constexpr Uint32 kEcfInvalidParameter = 0x9000000Cu;
constexpr Uint32 kEcfTimeout = 0x90000013u;

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

enum class Take { Taken, Nested, GaveUp };

// Takes the writing flag, waiting for another thread's record to be written first.
Take takeWritingFlag(const InsideLog& inside)
{
    const DWORD self = GetCurrentThreadId();
    const DWORD start = GetTickCount();
    for (unsigned spins = 0;; ++spins) {
        DWORD owner = g_writingThread;
        if (owner == self) return Take::Nested;
        if (owner == 0 &&
            __atomic_compare_exchange_n(&g_writingThread, &owner, self, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED))
            return Take::Taken;
        if (spins < 64) {
            YieldProcessor();
            continue;
        }
        if (GetTickCount() - start >= kWriterWaitLimitMs) return Take::GaveUp;
        // The host sees the wait through its yield callbacks; what they log is dropped as nested.
        if (inside.marked())
            ossSleep(1);
        else
            Sleep(1);
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
    // Reporting a failure must not change what the failing operation sees afterwards.
    const DWORD lastError = GetLastError();
    const int savedErrno = errno;
    Uint32 rc = 0;
    {
        InsideLog inside;
        if (!inside.nested()) {
            if (OSSLogCallback callback = g_logCallback) {
                rc = callback(req.facility, req.functionId, req.calledId, req.code,
                              req.messageCode, req.probe, req.level, req.flags, req.count,
                              req.items);
            } else {
                switch (takeWritingFlag(inside)) {
                case Take::Taken:
                    rc = writeRecord(req);
                    dropWritingFlag();
                    break;
                case Take::Nested:
                    break;
                case Take::GaveUp:
                    __atomic_add_fetch(&g_giveUps, 1u, __ATOMIC_RELAXED);
                    rc = kEcfTimeout;
                    break;
                }
            }
        }
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

extern "C" OSSE_API Uint32 ossLogGetGiveUpCount(void)
{
    return __atomic_load_n(&g_giveUps, __ATOMIC_RELAXED);
}

extern "C" OSSE_API OSSNodeNumCallback ossSetNodeNumCallback(OSSNodeNumCallback callback)
{
    g_nodeNumCallback = callback;
    return callback;
}

namespace ossdiag {
const char* defaultFacilityLogFile()
{
    const OSSLogFacility* f = &g_defaultFacility;
    if (!f->open || !f->path[0]) return nullptr;
    return f->path;
}
}  // namespace ossdiag
