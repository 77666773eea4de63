// The log file destination, and the log's default facility as other diagnostics see it.
#ifndef OSSE_SRC_DIAG_LOGFILE_H
#define OSSE_SRC_DIAG_LOGFILE_H

#include "osse/log.h"

namespace ossdiag {

// Appends the record of `length` bytes in `record` (the writer's 4096-byte buffer) to the
// facility's log file under the exclusive file lock, stamping the locator into its header.
// Returns 0 when every step succeeded.
Uint32 appendToLogFile(const OSSLogFacility* facility, char* record, Uint32 length);

// The log file of the default facility when it is open with a path, else null. It is read
// without the facility's latch: an assertion may fail while that very latch is held.
const char* defaultFacilityLogFile();

}  // namespace ossdiag

#endif
