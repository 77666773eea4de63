// Inside view of the trace ring buffer for the library: the portable reservation and
// publication (ring_core.h), used inline by the trace writers.
#ifndef OSSE_TRACE_RAMBO_INTERNAL_H
#define OSSE_TRACE_RAMBO_INTERNAL_H

#include "osse/ecf.h"
#include "osse/rambo.h"
#include "trace/ring_core.h"

namespace osse {
namespace rambo {
// When the library is unloaded: frees what the calling thread kept for caller-filled records
// and the thread-local-storage slot that kept it (the other threads' ends have freed theirs).
void releaseStageSlot();
}  // namespace rambo
}  // namespace osse

#endif
