// Lazily computed processor facts and the latches that guard them.
#include <cpuid.h>

#include "sync/latch_internal.h"
#include "sync/tick_internal.h"

extern "C" {
OSSE_API OSSLatch g_IsHWVectorSupportedLatch;
OSSE_API OSSLatch g_IsSSE4_1SupportedLatch;
OSSE_API OSSLatch g_IsSSE4_2SupportedLatch;
}

namespace {

// The processor facts this module needs, in the shape of the feature bytes of the processor
// information record.
// TODO(sysinfo): make this the processor information record and fill it with ossGetCPUInfo
// (all information requested) instead of reading the identification instruction here.
struct CpuFeatures {
    Uint8 hasSSE41;
    Uint8 hasSSE42;
    Uint8 hasSSE4;  // either of the two: the hardware-vector-support byte
};

void readCpuFeatures(CpuFeatures& f)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) c = 0;
    f.hasSSE41 = (c >> 19) & 1u;
    f.hasSSE42 = (c >> 20) & 1u;
    f.hasSSE4 = f.hasSSE41 | f.hasSSE42;
}

CpuFeatures g_hwVectorInfo;
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
            readCpuFeatures(g_hwVectorInfo);
            __atomic_store_n(&g_hwVectorOneTime, Uint8(0), __ATOMIC_RELEASE);
        }
    }
    return g_hwVectorInfo.hasSSE4;
}

extern "C" OSSE_API Uint8 ossCanUseRegister(void)
{
    return g_bCanUseTimeStampCounter;
}
