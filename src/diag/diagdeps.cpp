// The seam's implementations for names, latch and clock.
#include "diag/diagdeps.h"

#include <windows.h>

#include "osse/ecf.h"
#include "osse/tick.h"

namespace ossdiag {

const char* productName(Uint32 functionId)
{
    return ecfGetProductName(functionId);
}
const char* componentName(Uint32 functionId)
{
    return ecfGetComponentName(functionId);
}
const char* functionName(Uint32 functionId)
{
    return ecfGetFunctionName(functionId);
}
const char* codeDescription(Uint32 code)
{
    return ecfErrorGetDescription(code);
}

void latchInit(volatile Uint8* latch)
{
    *latch = 0;
}
void latchGet(volatile Uint8* latch)
{
    for (unsigned spins = 0;; ++spins) {
        if (*latch < 0x80 && __atomic_exchange_n(latch, (Uint8)0x80, __ATOMIC_ACQUIRE) == 0)
            return;
        if (spins < 64)
            YieldProcessor();
        else
            Sleep(1);
    }
}
void latchRelease(volatile Uint8* latch)
{
    __atomic_store_n(latch, (Uint8)0, __ATOMIC_RELEASE);
}

// The seconds straight from the system clock: the C runtime's time functions also settle the
// time zone on every call, which costs more than building the rest of a record.
Sint64 utcNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const Uint64 ticks = ((Uint64)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return (Sint64)(ticks / 10000000u) - 11644473600ll;  // 100 ns since 1601 -> s since 1970
}
void localCalendar(Sint64 seconds, struct tm* out)
{
    ossTimeLocalTime(seconds, out);
}
void utcCalendar(Sint64 seconds, struct tm* out)
{
    ossTimeGmTime(seconds, out);
}

void pause()
{
    ossSleep(1);
}

}  // namespace ossdiag
