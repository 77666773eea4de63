// Yielding and sleeping through the host's callbacks, and the calibrated busy loop.
#include <windows.h>

#include "osse/tick.h"

namespace {

// Replaced at any time by the host without a lock; each use reads a pointer once, so a
// callback removed meanwhile is either called or skipped, never called through null.
OSSYieldCallback volatile g_pfnPreYield = nullptr;
OSSYieldCallback volatile g_pfnPostYield = nullptr;

inline void preYield()
{
    const OSSYieldCallback pre = g_pfnPreYield;
    if (pre) pre();
}

inline Uint32 postYield()
{
    const OSSYieldCallback post = g_pfnPostYield;
    return post ? post() : 0;
}

}  // namespace

extern "C" OSSE_API void ossSetYieldCallbacks(OSSYieldCallback preYield,
                                             OSSYieldCallback postYield)
{
    g_pfnPreYield = preYield;
    g_pfnPostYield = postYield;
}

extern "C" OSSE_API Uint32 ossYield(void)
{
    preYield();
    Sleep(1);
    return postYield();
}

extern "C" OSSE_API Uint32 ossSleep(Uint32 milliseconds)
{
    preYield();
    Sleep(milliseconds);
    postYield();
    return OSS_OK;
}

extern "C" OSSE_API Uint32 ossPossiblyUselessCallToKernelYieldAPIOnSomePlatforms(void)
{
    preYield();
    return postYield();
}

extern "C" OSSE_API Uint32 ossWasteTime(Uint32 n)
{
    if (n < 2) return 77;
    Uint32 sum = 0;
    for (Uint32 i = 1; i < n; ++i) {
        sum += i;
        // The loop exists to take time in proportion to n: the empty asm hides the running sum
        // from the optimiser, which could otherwise replace the loop by its closed form.
        __asm__ __volatile__("" : "+r"(sum));
    }
    return 77u + n * sum;
}
