// Clock facilities used inside the library only: the time-stamp-counter flag and its test, and
// the microsecond clock.
#ifndef OSSE_SYNC_TICK_INTERNAL_H
#define OSSE_SYNC_TICK_INTERNAL_H

#include "osse/base.h"

// 1 when the processor's time-stamp counter can be read; set by ossTimeStampCounterTest.
extern volatile Uint8 g_bCanUseTimeStampCounter;

// Sets g_bCanUseTimeStampCounter from the processor level and the processor's feature flags.
// Run at load and again when a trace is attached.
void ossTimeStampCounterTest();

// Microseconds since the clock's origin. The first successful call (made at load) sets the
// origin and returns 0; a failed counter query returns 0.
Uint64 ossMicrosecondClock();

#endif
