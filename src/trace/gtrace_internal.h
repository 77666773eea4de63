// Inside view of the trace facility: the per-process state and the ring buffer calls the
// writers make.
#ifndef OSSE_TRACE_GTRACE_INTERNAL_H
#define OSSE_TRACE_GTRACE_INTERNAL_H

#include "osse/ecf.h"
#include "osse/tick.h"
#include "osse/trace.h"
#include "sync/tick_internal.h"
#include "trace/rambo_internal.h"

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

// ---- Ring buffer ----------------------------------------------------------------------------------
// The ring buffer that follows the block; reservation and publication are the inline ones.
using RingToken = RamboReservation;

inline RamboControlBlock* ringOf(GTCB* cb) {
    return reinterpret_cast<RamboControlBlock*>(reinterpret_cast<Uint8*>(cb) + GTCB_SIZE);
}
// Writable payload of `payload` bytes; never fails.
inline void* ringReserve(RamboControlBlock* ring, Uint32 payload, RingToken* token) {
    return osse::rambo::reserve(ring, payload, token);
}
inline void ringSync(RamboControlBlock* ring, RingToken* token) { osse::rambo::sync(ring, token); }

}  // namespace gtrace
}  // namespace osse

#endif
