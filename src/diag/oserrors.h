// The mapping behind ossErrorMapSystem, without its trace record (ossErrorNameMapSystem, the
// names of the same error numbers, is exported from oserrors.cpp as it is).
#ifndef OSSE_SRC_DIAG_OSERRORS_H
#define OSSE_SRC_DIAG_OSERRORS_H

#include "osse/base.h"

namespace ossdiag {

// The ECF code of `osError` reported by the call `failedCall` (its function-kind bits are
// ignored), and in *level (when not null) the level to log it at.
Uint32 mapSystemError(Uint32 failedCall, Uint32 osError, Uint32* level);

}  // namespace ossdiag

#endif
