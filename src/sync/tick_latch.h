// The latch that guards the process-wide tick calibration.
// Interim: a minimal one-byte exchange latch until the library latch is available here.
#ifndef OSSE_SYNC_TICK_LATCH_H
#define OSSE_SYNC_TICK_LATCH_H

#include <windows.h>

#include "osse/tick.h"

namespace osse {

class TickCalibrationLatch {
public:
    void acquire()
    {
        while (__atomic_exchange_n(&byte_, 0x80, __ATOMIC_ACQUIRE) != 0) ossSleep(1);
    }
    void release() { __atomic_store_n(&byte_, 0, __ATOMIC_RELEASE); }

private:
    unsigned char byte_;  // static storage: free at load
};

}  // namespace osse

#endif
