// What the library's own operations write into the trace: the entry and exit of the operation,
// an error record on a failure path, and data records. The test in front of each call is the
// whole cost of a frame while tracing is off: one load and one compare while no trace is bound,
// one more of each while a bound trace is disabled.
#ifndef OSSE_TRACE_GTRACE_FRAME_H
#define OSSE_TRACE_GTRACE_FRAME_H

#include "osse/thread.h"
#include "osse/trace.h"

#include <string.h>

#include <windows.h>

// True while this process is bound to a trace and the trace is enabled.
inline bool gtraceFrameOn() {
    const GTCB* cb = g_pGTCB;
    return __builtin_expect(cb != nullptr && cb->enabled != 0, 0);
}

// The records of one operation; call only when gtraceFrameOn() said yes.
inline void gtraceFrameEntry(Uint32 functionId) {
    _gtraceEntry(ossThreadID(), 0, functionId, 0, 1000000);
}
inline void gtraceFrameExit(Uint32 functionId, const Uint32* returnCode) {
    _gtraceExit(ossThreadID(), 0, functionId, returnCode, 0, 0);
}
// A failure path: record type 4 with the return code as its item.
inline void gtraceFrameError(Uint32 functionId, Uint32 probe, const Uint32* returnCode) {
    _gtraceErrorVar(ossThreadID(), 0, functionId, probe, GTRACE_TYPE_ERROR, 0, 0, 1,
                    GTRACE_ITEM_BYTES, 4u, returnCode);
}
// A data point: record type 3 carrying a string without its terminator.
inline void gtraceFrameDataString(Uint32 functionId, Uint32 probe, const char* text) {
    _gtraceVar(ossThreadID(), 0, functionId, probe, GTRACE_TYPE_DATA, 1, GTRACE_ITEM_BYTES,
               text ? (Uint32)strlen(text) : 0u, text);
}
// A data point of three 4-byte values.
inline void gtraceFrameData3(Uint32 functionId, Uint32 probe, Uint32 a, Uint32 b, Uint32 c) {
    _gtraceVar(ossThreadID(), 0, functionId, probe, GTRACE_TYPE_DATA, 3, GTRACE_ITEM_BYTES,
               4u, &a, GTRACE_ITEM_BYTES, 4u, &b,
               GTRACE_ITEM_BYTES, 4u, &c);
}

#endif
