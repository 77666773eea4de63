// Inside view of the trace ring buffer for the library: the portable reservation and
// publication (ring_core.h), used inline by the trace writers.
#ifndef OSSE_TRACE_RAMBO_INTERNAL_H
#define OSSE_TRACE_RAMBO_INTERNAL_H

#include "osse/ecf.h"
#include "osse/rambo.h"
#include "trace/ring_core.h"

#endif
