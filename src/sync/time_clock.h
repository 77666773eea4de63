// Arithmetic of the microsecond clock, kept apart so that it can be checked on its own.
#ifndef OSSE_SYNC_TIME_CLOCK_H
#define OSSE_SYNC_TIME_CLOCK_H

#include "osse/base.h"

namespace osse {

// Microseconds in `elapsed` ticks of a counter running at `frequency` ticks per second, rounded
// down. Whole seconds and the remainder are scaled apart, so the result is exact for any
// elapsed count: a plain elapsed x 1,000,000 would overflow after about 21 days at 10 MHz.
inline Uint64 ticksToMicroseconds(Uint64 elapsed, Uint64 frequency)
{
    if (frequency == 0) return 0;
    const Uint64 seconds = elapsed / frequency;
    const Uint64 rest = elapsed % frequency;
    // rest < frequency; only a frequency above 1.8e13 per second could overflow the product.
    const Uint64 fraction = rest <= UINT64_MAX / 1000000u
                                ? rest * 1000000u / frequency
                                : static_cast<Uint64>(static_cast<long double>(rest) * 1e6L /
                                                      static_cast<long double>(frequency));
    return seconds * 1000000u + fraction;
}

}  // namespace osse

#endif
