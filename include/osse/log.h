/* The diagnostic log: plain-text records, one per event, written by the reporting thread to a
 * log file shared by all processes, the system event log or the standard error stream. */
#ifndef OSSE_LOG_H
#define OSSE_LOG_H

#include <stdarg.h>

#include "osse/base.h"
#include "osse/error.h"
#include "osse/latch.h"

/* Severity levels. 2 is accepted and treated as 3. */
#define OSS_LEVEL_SEVERE  1u
#define OSS_LEVEL_ERROR   3u
#define OSS_LEVEL_WARNING 4u
#define OSS_LEVEL_INFO    5u
#define OSS_LEVEL_EVENT   6u

/* Destinations. */
#define OSS_LOG_DEST_FILE     1u
#define OSS_LOG_DEST_EVENTLOG 2u
#define OSS_LOG_DEST_STDERR   4u

/* Record flags, handed to the log callback. */
#define OSS_LOG_FLAG_LOG   0x1u   /* request of ossLog */
#define OSS_LOG_FLAG_MASK  0x2u   /* the count is an argument mask */
#define OSS_LOG_FLAG_OSERR 0x4u   /* the record reports an operating-system error */

/* Size of the buffer a record is built in; a record text is at most one byte shorter. */
#define OSS_LOG_RECORD_MAX 4096

/* Input of ossLogFacOpen: the facility's name, filter level, destination and, for a file
 * destination, its path. */
typedef struct OSSLogFacOpenParam {
    Uint32 version;          /* at least OSS_MIN_VERSION */
    char path[261];          /* log file; required for OSS_LOG_DEST_FILE */
    char name[51];           /* facility name, required; the event source of OSS_LOG_DEST_EVENTLOG */
    Uint32 level;            /* filter level 0 to 6 */
    Uint32 destination;      /* OSS_LOG_DEST_* */
    Uint32 permissions;      /* handed to the file open of OSS_LOG_DEST_FILE */
} OSSLogFacOpenParam;

/* A log facility. The library owns the default one (used for a null facility argument);
 * callers may keep more in their own memory. Closed until ossLogFacOpen succeeds. */
typedef struct OSSLogFacility {
    char path[261]; /* log file of OSS_LOG_DEST_FILE */
    char name[51]; /* facility name */
    OSSLatch latch;          /* serialises the facility's settings and records */
    Uint32 level; /* filter level 0 to 6 */
    Uint32 destination; /* OSS_LOG_DEST_* */
    Uint32 permissions; /* handed to the file open of OSS_LOG_DEST_FILE */
    Uint8 open; /* 1 once ossLogFacOpen succeeded */
} OSSLogFacility;

#ifdef __cplusplus
static_assert(sizeof(OSSLatch) == 1, "a latch is one byte");
static_assert(sizeof(OSSLogFacOpenParam) == 328, "OSSLogFacOpenParam layout");
static_assert(offsetof(OSSLogFacOpenParam, path) == 4, "OSSLogFacOpenParam layout");
static_assert(offsetof(OSSLogFacOpenParam, name) == 265, "OSSLogFacOpenParam layout");
static_assert(offsetof(OSSLogFacOpenParam, level) == 316, "OSSLogFacOpenParam layout");
static_assert(offsetof(OSSLogFacOpenParam, destination) == 320, "OSSLogFacOpenParam layout");
static_assert(offsetof(OSSLogFacOpenParam, permissions) == 324, "OSSLogFacOpenParam layout");
static_assert(sizeof(OSSLogFacility) == 332, "OSSLogFacility layout");
static_assert(offsetof(OSSLogFacility, name) == 261, "OSSLogFacility layout");
static_assert(offsetof(OSSLogFacility, latch) == 312, "OSSLogFacility layout");
static_assert(offsetof(OSSLogFacility, level) == 316, "OSSLogFacility layout");
static_assert(offsetof(OSSLogFacility, destination) == 320, "OSSLogFacility layout");
static_assert(offsetof(OSSLogFacility, permissions) == 324, "OSSLogFacility layout");
static_assert(offsetof(OSSLogFacility, open) == 328, "OSSLogFacility layout");
#endif

/* Takes over the log completely: receives every request (the facility as given, function
 * identifier, called identifier, code or error number, message code, probe, level, record
 * flags, count or mask, and the address of the va_list positioned on the items) and returns
 * what the log function returns. */
typedef Uint32 (*OSSLogCallback)(OSSLogFacility* facility, Uint32 functionId, Uint32 calledId,
                                 Uint32 code, Uint32 messageCode, Uint32 probe, Uint32 level,
                                 Uint32 flags, Sint32 count, va_list* items);
/* Supplies the current filter level for each record. */
typedef void (*OSSDiagLevelCallback)(Uint16* level);
/* Kept for the product's other modules; the library does not call it. */
typedef Uint32 (*OSSNodeNumCallback)(void);

/* A message with `count` data items (OSSLogItem values). A negative count writes nothing and
 * returns 0x9000000C. */
OSSE_C_API Uint32 ossLog(OSSLogFacility* facility, Uint32 functionId, Uint32 messageCode,
                         Uint32 probe, Uint32 level, Sint32 count, ...);
/* A message about a called function that returned `calledCode`. A positive count numbers the
 * items 1 to count; a negative one is an argument mask (bit i-1 set: argument i follows). */
OSSE_C_API Uint32 ossLogRC(OSSLogFacility* facility, Uint32 functionId, Uint32 calledId,
                           Uint32 calledCode, Uint32 messageCode, Uint32 probe, Uint32 level,
                           Sint32 countOrMask, ...);
/* A message about a failed operating-system call and its error number; items as ossLogRC. */
OSSE_C_API Uint32 ossLogSysRC(OSSLogFacility* facility, Uint32 functionId, Uint32 failedCall,
                              Uint32 osError, Uint32 messageCode, Uint32 probe, Uint32 level,
                              Sint32 countOrMask, ...);

/* Opens a facility: records at or below its level go to its destination. 0, ECF_INVALID_PARAMETER
 * (no name, or no path for a file destination) or ECF_INVALID_VERSION. */
OSSE_C_API Uint32 ossLogFacOpen(const OSSLogFacOpenParam* param, OSSLogFacility* facility);
/* Closes a facility; later records through it are refused. */
OSSE_C_API Uint32 ossLogFacClose(OSSLogFacility* facility);
/* Changes the filter level (0 to 6) of an open facility. */
OSSE_C_API Uint32 ossLogFacSetLevel(OSSLogFacility* facility, Uint32 level);

/* Installs the callback that takes over the log (null removes it); returns the one it replaces. */
OSSE_C_API OSSLogCallback ossSetOSSeLogCallback(OSSLogCallback callback);
/* Installs the callback that gives the diagnostic level (null removes it); returns the one it
 * replaces. */
OSSE_C_API OSSDiagLevelCallback ossSetDiagLevelCallback(OSSDiagLevelCallback callback);
/* Installs the callback that gives the node number printed in records (null removes it); returns
 * the one it replaces. */
OSSE_C_API OSSNodeNumCallback ossSetNodeNumCallback(OSSNodeNumCallback callback);

/* Records lost because the thread gave up waiting for another thread's record to be written
 * (about 2 seconds; such a request returns 0x90000013 ECF_TIMEOUT), since the library was
 * loaded. */
OSSE_C_API Uint32 ossLogGetGiveUpCount(void);

#endif
