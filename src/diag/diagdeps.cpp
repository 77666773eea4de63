// The seam's implementations for names and clock.
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
