// Inside view of the trace facility: the per-process state, the ring buffer calls the writers
// make, and the few primitives of other facilities it leans on. Everything the trace code needs
// from outside goes through this header.
#ifndef OSSE_TRACE_GTRACE_INTERNAL_H
#define OSSE_TRACE_GTRACE_INTERNAL_H

#include "osse/ecf.h"
#include "osse/tick.h"
#include "osse/trace.h"
#include "sync/tick_internal.h"

#include <windows.h>

namespace osse {
namespace gtrace {

// ---- Per-process state ----------------------------------------------------------------------------
struct ProcessState {
    Uint32 processId = GTRACE_NOT_SET;
    Uint32 fixedData1 = GTRACE_NOT_SET;
    Uint32 fixedData2 = GTRACE_NOT_SET;
    GTraceAppCallBack appCallBack = nullptr;
    GTraceDisableCallBack disableCallBack = nullptr;
    GTracePreTraceCallBack preTraceCallBack = nullptr;
};
extern ProcessState g_state;

// Record types that are errors (errors-only mode): 2, 4, 5, 11 and 13.
constexpr Uint32 kErrorClassTypes = (1u << 2) | (1u << 4) | (1u << 5) | (1u << 11) | (1u << 13);
inline bool isErrorClass(Uint32 type) { return type < 16 && ((kErrorClassTypes >> type) & 1u); }

inline void* ringOf(GTCB* cb) { return reinterpret_cast<Uint8*>(cb) + GTCB_SIZE; }

// ---- Ring buffer ----------------------------------------------------------------------------------
}  // namespace gtrace
}  // namespace osse

#include "trace/gtrace_ring_standin.h"

namespace osse {
namespace gtrace {

}  // namespace gtrace
}  // namespace osse

#endif
