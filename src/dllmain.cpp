// The library's entry point: the once-per-process load sequence and the unload steps.
#include <windows.h>

#include "osse/osse.h"
#include "diag/platform_internal.h"
#include "fault/fault_internal.h"
#include "mem/mem_internal.h"
#include "sync/latch_internal.h"
#include "sync/tick_internal.h"
#include "trace/rambo_internal.h"

OSSE_API int sqlzThisIsANRVLibrary = 1;

namespace {
// Set in the freshly loaded image; the first process attach clears it and runs the sequence,
// so a library that is freed and loaded again settles its state again.
volatile unsigned char g_oneTimeFlag = 1;

void runLoadSequence()
{
    osse_sync::spinTuneAtLoad();            // 1. spin tuning from the processor count
    ossTimeStampCounterTest();               // 2. time-stamp-counter test
    osse_mem::configureFromEnvironment();    // 3. memory debugging settings
    osse_platform::identifyPlatform();       // 4. platform identification,
    ossMicrosecondClock();                   //    the microsecond clock's origin (first call)
    ossLoadSymDLL(false);                    //    and the debug-help mutexes (the library
                                             //    itself is bound at its first use)
}
}  // namespace

extern "C" OSSE_API void ossOneTimeOnly(void)
{
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        if (g_oneTimeFlag) {
            g_oneTimeFlag = 0;
            runLoadSequence();
        }
        return TRUE;
    case DLL_PROCESS_DETACH:
        // At process exit (reserved not null) the other threads are already gone, possibly
        // holding the table's lock, one of the mutexes or the allocator's latch: nothing is
        // freed then, and the leak report does not wait for the latch.
        if (reserved == nullptr) osse::rambo::releaseStageSlot();
        osse_fault::releaseAtDetach(reserved != nullptr);
        osse_mem::terminate(reserved != nullptr);
        return TRUE;
    case DLL_THREAD_DETACH:
        osse::rambo::freeKeptStage();  // what the thread kept for its trace records
        return TRUE;
    default:
        return TRUE;
    }
}
