// The exported mapping of operating-system and C-runtime error numbers to ECF codes: the
// tables (oserrors.cpp), and the trace record of every mapping.
#include "diag/oserrors.h"

#include "osse/error.h"

#include "base/callframe.h"

extern "C" OSSE_API Uint32 ossErrorMapSystem(Uint32 functionId, Uint32 probe, Uint32 failedCall,
                                             Uint32 osError, Uint32* level)
{
    const Uint32 code = ossdiag::mapSystemError(failedCall, osError, level);
    if (gtraceFrameOn()) gtraceFrameData3(functionId, probe, failedCall, osError, code);
    return code;
}
