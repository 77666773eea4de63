// How the latch gives up the processor and what it reads of the clock facility.
// These are stand-ins until the yield/sleep and tick facility is part of the library:
//   latchSleep(ms)   -> becomes ossSleep(ms) (pre-yield callback, Sleep, post-yield callback)
//   tscUsable()      -> becomes a read of the time-stamp-counter flag set at load
#ifndef OSSE_SYNC_LATCH_WAIT_H
#define OSSE_SYNC_LATCH_WAIT_H

#include "osse/base.h"

namespace osse_sync {

// Gives up the processor for ms milliseconds.
void latchSleep(Uint32 ms);

// Whether the processor's time-stamp counter can be read: processor level 5 or more and the
// counter reported by the processor identification (leaf 1, EDX bit 4).
Uint8 tscUsable();

}  // namespace osse_sync

#endif
