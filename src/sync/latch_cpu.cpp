// Lazily computed processor facts and the latches that guard them.
#include "osse/sysinfo.h"
#include "sync/latch_internal.h"
#include "sync/tick_internal.h"

extern "C" {
OSSE_API OSSLatch g_IsHWVectorSupportedLatch;
OSSE_API OSSLatch g_IsSSE4_1SupportedLatch;
OSSE_API OSSLatch g_IsSSE4_2SupportedLatch;
}

namespace {

// The processor facts this module needs come from the processor information query, asked for
// everything once.
OSSCPUInfo g_hwVectorInfo;
volatile Uint8 g_hwVectorOneTime = 1;  // set until the record is filled

}  // namespace

extern "C" OSSE_API Uint8 OSS_SIMD_isHardwareVectorSupportedInternal(void)
{
    // Checked once without the latch so that later calls take no latch at all; the acquire
    // read pairs with the release store below, so a caller that sees the flag clear also
    // sees the filled record.
    if (__atomic_load_n(&g_hwVectorOneTime, __ATOMIC_ACQUIRE)) {
        OSSLatchGuard hold(g_IsHWVectorSupportedLatch);
        if (g_hwVectorOneTime) {
            ossGetCPUInfo(&g_hwVectorInfo);
            __atomic_store_n(&g_hwVectorOneTime, Uint8(0), __ATOMIC_RELEASE);
        }
    }
    return g_hwVectorInfo.hasSSE4;
}

extern "C" OSSE_API Uint8 ossCanUseRegister(void)
{
    return g_bCanUseTimeStampCounter;
}
