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

// ---- Profile and coverage modes -------------------------------------------------------------------
// A block whose mode word selects one of them keeps a table behind it instead of a ring buffer.
inline bool isTableMode(Uint32 mode) {
    const Uint32 m = mode & 0x88u;
    return m == GTRACE_MODE_PROFILE || m == GTRACE_MODE_COVERAGE;
}
OSSErr profileInitialize(void* memory, GTraceOptions* options);
OSSErr coverageInitialize(void* memory, GTraceOptions* options);
void profileClear(GTCB* cb);
void coverageClear(GTCB* cb);
// Creates the process's slot for the per-thread call stacks (once).
void profileAttach();
void profileEntry(GTCB* cb, Uint32 threadLow, Uint32 functionId, Uint32 qualifier, Uint64 timestamp);
void profileExit(GTCB* cb, Uint32 threadLow, Uint32 functionId, Uint64 timestamp);
void coveragePoint(GTCB* cb, Uint32 functionId, Uint32 probe, Uint32 type);
void coverageExit(GTCB* cb, Uint32 functionId, Uint32 data1, Uint32 data2);

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
