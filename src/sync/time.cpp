// Time of day in UTC, its calendar breakdown and text, and the internal microsecond clock.
#include <windows.h>

#include <stddef.h>
#include <string.h>
#include <sys/timeb.h>
#include <time.h>

#include "osse/latch.h"
#include "osse/tick.h"
#include "sync/tick_internal.h"
#include "sync/time_clock.h"

static_assert(sizeof(OSSTime) == 16, "time layout");
static_assert(offsetof(OSSTime, seconds) == 0, "time layout");
static_assert(offsetof(OSSTime, milliseconds) == 8, "time layout");
static_assert(offsetof(OSSTime, microseconds) == 12, "time layout");
static_assert(offsetof(OSSTime::toStringParam, text) == 4, "time text parameter layout");
static_assert(sizeof(OSSTime::toStringParam) == 32, "time text parameter layout");
static_assert(sizeof(struct tm) == 36, "the runtime's calendar structure: nine 32-bit fields");

namespace {

// The runtime's calendar conversions cover 1970-01-01 00:00:00 to 3000-12-31 23:59:59 UTC.
// Times outside never reach them: some runtimes report such a time through their invalid-
// parameter handler, which may end the process.
const Sint64 kLatestConvertibleTime = 32535215999ll;

// Fills *out with the nine calendar fields of `seconds` as the runtime's `convert` gives them;
// zeroes them and returns false when the runtime cannot represent the time.
bool breakDown(Sint64 seconds, struct tm* out, struct tm* (*convert)(const __time64_t*))
{
    const __time64_t t = seconds;
    const struct tm* from =
        seconds >= 0 && seconds <= kLatestConvertibleTime ? convert(&t) : nullptr;
    if (!from) {
        memset(out, 0, sizeof *out);
        return false;
    }
    out->tm_sec = from->tm_sec;
    out->tm_min = from->tm_min;
    out->tm_hour = from->tm_hour;
    out->tm_mday = from->tm_mday;
    out->tm_mon = from->tm_mon;
    out->tm_year = from->tm_year;
    out->tm_wday = from->tm_wday;
    out->tm_yday = from->tm_yday;
    out->tm_isdst = from->tm_isdst;
    return true;
}

// First-call flag and origin of the microsecond clock. The latch keeps two racing first calls
// from writing the origin while a third, which already sees the flag clear, reads it.
OSSLatch g_clockLatch;
Uint8 g_clockFirstCall = 1;
Uint64 g_clockOriginFrequency = 0;
Sint64 g_clockOriginCounter = 0;

}  // namespace

extern "C" OSSE_API Sint64 ossTimeGetUTC(struct OSSTime* time)
{
    struct __timeb64 now;
    _ftime64(&now);
    if (time) {
        time->seconds = now.time;
        time->milliseconds = now.millitm;
        time->microseconds = static_cast<Uint32>(now.millitm) * 1000u;
    }
    return now.time;
}

extern "C" OSSE_API struct tm* ossTimeGmTime(Sint64 seconds, struct tm* out)
{
    if (out) breakDown(seconds, out, _gmtime64);
    return out;
}

extern "C" OSSE_API struct tm* ossTimeLocalTime(Sint64 seconds, struct tm* out)
{
    if (out) breakDown(seconds, out, _localtime64);
    return out;
}

void OSSTime::toString(toStringParam* param) const
{
    if (!param) return;
    struct tm local;
    if (!breakDown(seconds, &local, _localtime64) ||
        asctime_s(param->text, sizeof param->text, &local) != 0) {
        param->text[0] = '\0';
    }
}

Uint64 ossMicrosecondClock()
{
    LARGE_INTEGER counter;
    if (__atomic_load_n(&g_clockFirstCall, __ATOMIC_ACQUIRE)) {
        OSSLatchGuard hold(g_clockLatch);
        LARGE_INTEGER frequency;
        if (g_clockFirstCall && QueryPerformanceFrequency(&frequency) &&
            QueryPerformanceCounter(&counter) && frequency.QuadPart > 0) {
            g_clockOriginFrequency = static_cast<Uint64>(frequency.QuadPart);
            g_clockOriginCounter = counter.QuadPart;
            __atomic_store_n(&g_clockFirstCall, 0, __ATOMIC_RELEASE);
        }
        return 0;
    }
    if (!QueryPerformanceCounter(&counter) || counter.QuadPart < g_clockOriginCounter) return 0;
    return osse::ticksToMicroseconds(
        static_cast<Uint64>(counter.QuadPart - g_clockOriginCounter), g_clockOriginFrequency);
}
