/* NRVOSSE: the operating-system services library. Includes every public header. */
#ifndef OSSE_OSSE_H
#define OSSE_OSSE_H

#include "osse/base.h"
#include "osse/ecf.h"
#include "osse/int128.h"
#include "osse/latch.h"
#include "osse/tick.h"
#include "osse/error.h"
#include "osse/log.h"
#include "osse/file.h"
#include "osse/primfile.h"
#include "osse/strutil.h"
#include "osse/rambo.h"
#include "osse/trace.h"
#include "osse/tracedump.h"
#include "osse/mem.h"
#include "osse/assert.h"
#include "osse/platform.h"
#include "osse/sysinfo.h"
#include "osse/ipc.h"
#include "osse/thread.h"
#include "osse/process.h"
#include "osse/library.h"
#include "osse/stack.h"
#include "osse/security.h"

/* Load-time work is done by the library's entry point; this call is kept for callers that
 * expect an explicit initialisation and does nothing. */
OSSE_C_API void ossOneTimeOnly(void);
/* Writes the report of unfreed memory blocks when memory debugging asked for it. */
OSSE_C_API Uint32 ossTerminate(void);

#endif
