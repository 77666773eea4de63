// Stand-ins for the yield/sleep and tick facility (see latch_wait.h).
#include "sync/latch_wait.h"

#include <windows.h>
#include <cpuid.h>

namespace osse_sync {

void latchSleep(Uint32 ms)
{
    // TODO(tick): ossSleep(ms), so that the host's yield callbacks see the latch's sleeps.
    Sleep(ms);
}

Uint8 tscUsable()
{
    // TODO(tick): return the flag that the load sequence's time-stamp-counter test sets.
    static volatile LONG computed = 0;  // 0 not yet, 1 false, 2 true
    LONG v = computed;
    if (v == 0) {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        unsigned a = 0, b = 0, c = 0, d = 0;
        const bool tsc = si.wProcessorLevel >= 5 && __get_cpuid(1, &a, &b, &c, &d) && (d & 0x10u);
        v = tsc ? 2 : 1;
        InterlockedExchange(&computed, v);
    }
    return v == 2 ? 1 : 0;
}

}  // namespace osse_sync
