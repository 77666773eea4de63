// Process-wide state of the call frame.
#include "base/callframe.h"

const OSSCallFrameTraceHooks* volatile g_ossCallFrameTrace = nullptr;
