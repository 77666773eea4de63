// Threads per core and cores per package: the processor facts that need the identification
// instruction or a walk over the processors. Kept apart from the queries (no call frame, no
// log) so that the tests can run the once-only computation with the preferred source forced
// to fail.
#ifndef OSSE_SYSINFO_HTLEVEL_H
#define OSSE_SYSINFO_HTLEVEL_H

#include "osse/base.h"
#include "osse/latch.h"

namespace osse_sysinfo {

// Cores per package from the identification instruction (1 when it cannot tell).
Uint32 cpuCoresPerPackage();

// Feature bits of leaf 1: SSE4.1 (ECX bit 19) and SSE4.2 (ECX bit 20).
void cpuSse4(Uint8* sse41, Uint8* sse42);

// Preferred source: logical processors per core from GetLogicalProcessorInformation. True with
// a value from 1 to 254; false with the OS error (or 0) and a probe.
bool htLevelFromProcessorInformation(Uint32* value, Uint32* error, Uint32* probe);

// Fallback: pins the calling thread in turn to each processor of the process's affinity mask,
// reads each one's package from its initial APIC id, and restores the thread's own mask. The
// process's mask is never changed, so other threads keep running where they may.
Uint32 htLevelByAffinity(Uint32 coresPerPackage);

// The once-per-process value. The first caller computes under the latch; callers arriving
// meanwhile wait on it; later calls read the value without the latch.
struct HtLevelOnce {
    OSSLatch latch;
    volatile Uint8 done;
    Uint32 value;
    Uint32 coresPerPackage;
};
using HtPreferred = bool (*)(Uint32* value, Uint32* error, Uint32* probe);
using HtFailureNote = void (*)(Uint32 error, Uint32 probe);
Uint32 htLevelOnce(HtLevelOnce& once, HtPreferred preferred, HtFailureNote note);

}  // namespace osse_sysinfo

#endif
