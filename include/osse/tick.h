/* Ticks, time of day, yielding and sleeping.
 *
 * High-resolution intervals are counted in ticks of the performance counter. A conversion
 * factor, calibrated once per process, turns tick counts into seconds and nanoseconds and back.
 * Wall-clock time is UTC seconds since 1970-01-01 with milliseconds. Every sleep or yield the
 * library performs goes through two optional host callbacks (pre-yield and post-yield), so that
 * a host that schedules its own threads sees when a thread leaves and re-enters the processor. */
#ifndef OSSE_TICK_H
#define OSSE_TICK_H

#include "osse/base.h"

#include <time.h>

#ifdef __cplusplus

/* Ticks per second of the performance counter, with the tick and time-stamp cycle counts of one
 * calibration loop. initialize() copies the process-wide factor, calibrating it on first use. */
class OSSE_API OSSTickConversionFactor {
public:
    Uint32 calibrationTicks;   /* performance-counter ticks of the calibration loop */
    Uint32 calibrationCycles;  /* time-stamp cycles of the same loop */
    Uint64 frequency;          /* performance-counter ticks per second */

    /* Copies the process-wide factor, calibrating it on first use. */
    void initialize();
};

/* A number of performance-counter ticks between two readings. */
class OSSE_API OSSTickDelta {
public:
    Uint64 ticks; /* performance-counter ticks between the readings */

    /* Seconds and the nanoseconds below them (a null output is skipped). */
    void convertToTime(const OSSTickConversionFactor& factor, Uint32* seconds,
                       Uint32* nanoseconds) const;
    /* Sets the ticks from a time in nanoseconds: at least 1000 and at most (2^32 - 1) seconds,
     * else ECF_OSSTICK_TIME_VALUE_TOO_SMALL / ECF_OSSTICK_TIME_VALUE_TOO_BIG with ticks 0.
     * A time shorter than one tick is too small as well, and one that needs more ticks than
     * 64 bits hold is too big. */
    OSSErr initFromTimeValue64(const OSSTickConversionFactor& factor, Uint64 nanoseconds);
    /* The same for a time below 2^32 nanoseconds. */
    OSSErr initFromTimeValue(const OSSTickConversionFactor& factor, Uint32 nanoseconds);
};

/* A performance-counter reading; converts like a delta. */
class OSSE_API OSSTick {
public:
    Uint64 ticks; /* performance-counter reading */

    /* Seconds and the nanoseconds below them since the counter's origin (a null output is skipped). */
    void convertToTime(const OSSTickConversionFactor& factor, Uint32* seconds,
                       Uint32* nanoseconds) const;
    /* Sets the ticks from a time in nanoseconds, with the bounds of OSSTickDelta. */
    OSSErr initFromTimeValue(const OSSTickConversionFactor& factor, Uint32 nanoseconds);
};

/* UTC time: seconds since 1970-01-01 00:00:00, milliseconds, and the same in microseconds
 * (always milliseconds x 1000). */
struct OSSE_API OSSTime {
    Sint64 seconds; /* seconds since 1970-01-01 00:00:00 UTC */
    Uint32 milliseconds; /* milliseconds within the second, 0 to 999 */
    Uint32 microseconds; /* milliseconds x 1000 */

    enum { TEXT_SIZE = 26 };
    /* Input of toString: the buffer the text is written into. */
    struct toStringParam {
        Uint32 version; /* parameter version */
        char text[TEXT_SIZE]; /* receives the text, always terminated */
    };

    /* Writes the local time of `seconds` as "Www Mmm dd hh:mm:ss yyyy\n" into param->text;
     * a time the C runtime cannot represent gives an empty text. */
    void toString(toStringParam* param) const;
};

#else
struct OSSTime {
    Sint64 seconds;
    Uint32 milliseconds;
    Uint32 microseconds;
};
#endif

/* Current UTC seconds; fills *time as well when it is not null. */
OSSE_C_API Sint64 ossTimeGetUTC(struct OSSTime* time);
/* Calendar fields of `seconds` in UTC / in local time, written to *out; returns out. A time the
 * C runtime cannot represent (before 1970 or after the year 3000) zeroes *out. */
OSSE_C_API struct tm* ossTimeGmTime(Sint64 seconds, struct tm* out);
/* The same in local time. */
OSSE_C_API struct tm* ossTimeLocalTime(Sint64 seconds, struct tm* out);

/* Host callbacks around every sleep and yield; they run on the yielding thread. */
typedef Uint32 (*OSSYieldCallback)(void);

/* Replaces both callbacks; null removes one. */
OSSE_C_API void ossSetYieldCallbacks(OSSYieldCallback preYield, OSSYieldCallback postYield);
/* Pre-yield callback, a 1 ms sleep, post-yield callback; returns the post-yield result or 0. */
OSSE_C_API Uint32 ossYield(void);
/* Pre-yield callback, Sleep(milliseconds), post-yield callback; returns 0. */
OSSE_C_API Uint32 ossSleep(Uint32 milliseconds);
/* Only the two callbacks; returns the post-yield result or 0. */
OSSE_C_API Uint32 ossPossiblyUselessCallToKernelYieldAPIOnSomePlatforms(void);
/* Busy loop of n - 1 additions; returns 77 + n * (1 + 2 + ... + (n - 1)) modulo 2^32
 * (77 for n < 2). */
OSSE_C_API Uint32 ossWasteTime(Uint32 n);

#endif
