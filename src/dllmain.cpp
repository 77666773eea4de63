// The library's entry point: the once-per-process load sequence and the unload steps.
#include <windows.h>

#include "osse/osse.h"
#include "sync/latch_internal.h"
#include "sync/tick_internal.h"

OSSE_API int sqlzThisIsANRVLibrary = 1;

namespace {
// Set in the freshly loaded image; the first process attach clears it and runs the sequence,
// so a library that is freed and loaded again settles its state again.
volatile unsigned char g_oneTimeFlag = 1;

void runLoadSequence()
{
    osse_sync::spinTuneAtLoad();  // 1. spin tuning from the processor count
    ossTimeStampCounterTest();     // 2. time-stamp-counter test
    ossMicrosecondClock();         // 4. the microsecond clock's origin (first call)
}
}  // namespace

extern "C" OSSE_API void ossOneTimeOnly(void)
{
}

extern "C" OSSE_API Uint32 ossTerminate(void)
{
    return OSS_OK;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        if (g_oneTimeFlag) {
            g_oneTimeFlag = 0;
            runLoadSequence();
        }
        return TRUE;
    case DLL_PROCESS_DETACH:
        ossTerminate();
        return TRUE;
    default:
        return TRUE;
    }
}
