// Internals of the latch and atomics shared by their sources (and by their tests, which
// include this header to check the decisions that a single machine cannot show).
#ifndef OSSE_SYNC_LATCH_INTERNAL_H
#define OSSE_SYNC_LATCH_INTERNAL_H

#include "osse/ecf.h"
#include "osse/latch.h"

namespace osse_sync {

// Spin tuning for a machine with the given number of processors. On one processor nothing is
// gained by spinning (the holder cannot run meanwhile), so a contended acquire sleeps at once.
constexpr OSSSpinTune spinTuneForProcessors(Uint32 processors)
{
    OSSSpinTune t{0, 0, 0, 0, 0, 0, 1000, 128000, 256000};
    if (processors > 4) {
        t.spinFactor = 5;
        t.spinPasses = 30;
        t.spinDelay = 50;
    } else if (processors >= 3) {
        t.spinFactor = 5;
        t.spinPasses = 20;
        t.spinDelay = 50;
    } else if (processors == 2) {
        t.spinFactor = 2;
        t.spinPasses = 10;
        t.spinDelay = 50;
    }
    return t;
}

// Load step: sets the process's spin tuning from the processor count.
void spinTuneAtLoad();

// Takes the latch, giving up after about timeoutMs milliseconds (0xFFFFFFFF: no limit; 0: the
// spin passes only, no sleep). True when the caller holds it. For latches held only for a
// moment, also by other processes that may die holding them: after the spin passes it yields
// the processor a few times before it sleeps whole milliseconds.
bool latchAcquireTimed(OSSLatch* latch, Uint32 timeoutMs);

// State name of a one-byte latch value; null for a corrupt value.
inline const char* latchStateName(Uint8 value)
{
    switch (value) {
    case OSS_LATCH_FREE: return "unlocked";
    case OSS_LATCH_HELD: return "locked";
    case OSS_LATCH_HELD_WAITING: return "locked;waiting";
    default: return nullptr;
    }
}

// Checks a fighter-count lock word (bits 0-7 held count, 8-15 fighters, 16-31 auxiliary):
// a held count other than 0 or 1 is corrupt; mode 1 requires it to be 0 (free), mode 2 to
// be 1 (held); any other mode accepts either.
inline Uint32 fighterCountLockVerify(Uint32 word, Uint32 mode)
{
    const Uint32 held = word & 0xFFu;
    if (held > 1) return ECF_OSSLOCK_CORRUPT;
    if (mode == 1 && held != 0) return ECF_OSSLOCK_CORRUPT;
    if (mode == 2 && held != 1) return ECF_OSSLOCK_CORRUPT;
    return 0;
}

}  // namespace osse_sync

#endif
