// What the result of a wait on a kernel object means to the semaphores and the waitpost: the
// code to return, the probe, and whether a log record is written. Kept apart from the waits
// so that results a test machine cannot produce (an abandoned wait) can be checked here.
#ifndef OSSE_SRC_IPC_IPC_WAIT_H
#define OSSE_SRC_IPC_IPC_WAIT_H

#include <windows.h>

#include "osse/ecf.h"

namespace osse_ipc {

struct WaitVerdict {
    Uint32 code;     // 0 when the object was signalled; meaningless when osError is set
    Uint32 probe;
    bool log;        // write a record (for osError: through the system error handler)
    bool osError;    // the wait itself failed: map GetLastError()
};

// Semaphore waits: an expired wait returns timeoutCode silently; `quiet` also silences an
// abandoned or failed wait (the codes stay the same).
inline WaitVerdict semaphoreWaitVerdict(DWORD result, Uint32 timeoutCode, bool quiet)
{
    switch (result) {
    case WAIT_OBJECT_0: return {0, 0, false, false};
    case WAIT_TIMEOUT: return {timeoutCode, 90, false, false};
    case WAIT_ABANDONED: return {ECF_SEM_WAIT_ABANDONED, 100, !quiet, false};
    default: return {0, 110, !quiet, true};
    }
}

// Waitpost waits: a poll (timeout 0) that finds nothing posted is not an error and is not
// logged; an expired wait with a time limit is.
inline WaitVerdict waitpostWaitVerdict(DWORD result, Uint32 timeout)
{
    switch (result) {
    case WAIT_OBJECT_0: return {0, 0, false, false};
    case WAIT_TIMEOUT:
        if (timeout == 0) return {ECF_WAITPOST_NOT_POSTED, 105, false, false};
        return {ECF_TIMEOUT, 110, true, false};
    case WAIT_ABANDONED: return {ECF_SEM_WAIT_ABANDONED, 100, true, false};
    default: return {0, 120, true, true};
    }
}

}  // namespace osse_ipc

#endif
