// Low 64 bits of (a x b) / d with a 128-bit intermediate product.
// Interim: a private long multiplication and division until the library's 128-bit integers are
// available here.
#ifndef OSSE_SYNC_TICK_MUL_H
#define OSSE_SYNC_TICK_MUL_H

#include "osse/base.h"

namespace osse {

// d must not be 0.
inline Uint64 mulDivLow64(Uint64 a, Uint64 b, Uint64 d)
{
    // 128-bit product hi:lo from four 32 x 32 products.
    const Uint64 aLo = a & 0xFFFFFFFFu, aHi = a >> 32;
    const Uint64 bLo = b & 0xFFFFFFFFu, bHi = b >> 32;
    const Uint64 ll = aLo * bLo, lh = aLo * bHi, hl = aHi * bLo, hh = aHi * bHi;
    const Uint64 mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    Uint64 lo = (mid << 32) | (ll & 0xFFFFFFFFu);
    Uint64 hi = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);

    // Restoring division, one bit at a time; the remainder stays below 2d.
    Uint64 rem = 0;
    Uint64 qHi = 0, qLo = 0;
    for (int i = 127; i >= 0; --i) {
        const Uint64 top = rem >> 63;
        rem = (rem << 1) | (i >= 64 ? (hi >> (i - 64)) & 1 : (lo >> i) & 1);
        if (top || rem >= d) {
            rem -= d;
            if (i >= 64) qHi |= Uint64(1) << (i - 64);
            else qLo |= Uint64(1) << i;
        }
    }
    (void)qHi;
    return qLo;
}

}  // namespace osse

#endif
