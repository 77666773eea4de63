/* Assertions: the record written when an internal consistency check fails, where it goes, and
 * how a host takes it over.
 *
 * Without a callback, a failure builds a short text record (time, expression, process, thread,
 * file, line) and appends it to the dump directory's per-thread file "<dir>\p<pid>t<tid>.mem"
 * when a directory is given; otherwise it prints it on a terminal standard output and appends
 * it to the file named by OSS_DEBUG_LOG_FILE, or to the default log facility's file when that
 * facility is open. A fatal failure then stops in the debugger (DebugBreak). */
#ifndef OSSE_ASSERT_H
#define OSSE_ASSERT_H

#include "osse/base.h"

/* One data item of an assertion: the list ends at the first item with a null pointer or a
 * length of 0. */
typedef struct OSSAssertDataItem {
    const void* data; /* address of the bytes; null ends the list */
    Uint32 length; /* bytes; 0 ends the list */
} OSSAssertDataItem;

/* Takes over every assertion failure: expression, file, line, dump directory (may be null),
 * fatal flag and the data items. */
typedef void (*OSSAssertionCallback)(const char* expression, const char* file, Uint32 line,
                                     const char* dumpDir, Uint8 fatal,
                                     const OSSAssertDataItem* items);

/* The failure action with no dump directory, not fatal, no items. */
OSSE_C_API void ossAssertFailed(const char* expression, const char* file, Uint32 line);

/* The failure action. The fatal flag is followed by data items, each a pointer and a Uint32
 * length, ended by a null pointer or a length of 0 (a call with no items passes NULL, 0).
 * Always 0. */
OSSE_C_API Uint32 ossAssertFailureAction(const char* expression, const char* file, Uint32 line,
                                         const char* dumpDir, Uint8 fatal, ...);

/* Installs the callback (null removes it); returns the pointer given. */
OSSE_C_API OSSAssertionCallback ossSetAssertionCallback(OSSAssertionCallback callback);

/* Checks a condition; a false one takes the non-fatal failure action. */
#define ossAssert(expression) \
    ((expression) ? (void)0 : ossAssertFailed(#expression, __FILE__, __LINE__))

#endif
