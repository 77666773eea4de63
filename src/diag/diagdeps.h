// What the diagnostic log takes from the rest of the library, behind one narrow seam: the
// names of identifiers and codes, the clock and the log file append.
#ifndef OSSE_SRC_DIAG_DIAGDEPS_H
#define OSSE_SRC_DIAG_DIAGDEPS_H

#include <time.h>

#include "osse/log.h"

namespace ossdiag {

// Names of a function identifier's product, component and function; null when unknown.
const char* productName(Uint32 functionId);
const char* componentName(Uint32 functionId);
const char* functionName(Uint32 functionId);
// Description of an ECF code; null when unknown.
const char* codeDescription(Uint32 code);

// Current UTC seconds and their local and UTC calendar fields.
Sint64 utcNow();
void localCalendar(Sint64 seconds, struct tm* out);
void utcCalendar(Sint64 seconds, struct tm* out);

// Waits a moment for a busy resource (goes through the host's yield callbacks).
void pause();

// Appends the record of `length` bytes in `record` (the writer's 4096-byte buffer) to the
// facility's log file under the exclusive file lock, stamping the locator into its header.
// Returns 0 when every step succeeded.
Uint32 appendToLogFile(const OSSLogFacility* facility, char* record, Uint32 length);

}  // namespace ossdiag

#endif
