// Tick calibration and the conversions between ticks and nanoseconds; the time-stamp-counter
// test.
#include <windows.h>

#include <cpuid.h>
#include <stddef.h>
#include <x86intrin.h>

#include "osse/ecf.h"
#include "osse/int128.h"
#include "osse/latch.h"
#include "osse/tick.h"
#include "sync/tick_internal.h"

static_assert(sizeof(OSSTickConversionFactor) == 16, "tick conversion factor layout");
static_assert(offsetof(OSSTickConversionFactor, calibrationTicks) == 0, "factor layout");
static_assert(offsetof(OSSTickConversionFactor, calibrationCycles) == 4, "factor layout");
static_assert(offsetof(OSSTickConversionFactor, frequency) == 8, "factor layout");
static_assert(sizeof(OSSTick) == 8 && sizeof(OSSTickDelta) == 8, "tick layout");

namespace {

// (2^32 - 1) seconds in nanoseconds: the longest time that converts to ticks.
const Uint64 kMaxTimeValue = 4294967295ull * 1000000000ull;  // 0x3B9AC9FFC4653600
const Uint64 kMinTimeValue = 1000;
// Up to this the product t x 65536 fits in 64 bits.
const Uint64 kMax48Bit = 0xFFFFFFFFFFFFull;
const Uint64 kProbeTicks = 65536;
const Uint64 kNanosecondsPerSecond = 1000000000ull;

const int kCalibrationSamples = 5;
// A sample with a zero or negative difference does not count. The cap only matters for a
// counter that does not move at all; the loop normally needs a handful of passes.
const int kCalibrationMaxPasses = 100000;
const Uint32 kCalibrationWork = 350;

// Guards the check, the calibration and the copy: concurrent first users calibrate once.
OSSLatch g_calibrationLatch;  // static storage: free at load
bool g_calibrated = false;
OSSTickConversionFactor g_factor;

// (a x b) / d through a 128-bit product; d is not 0.
Uint128 mulDiv128(Uint64 a, Uint64 b, Uint64 d)
{
    return Uint128(a) * Uint128(b) / Uint128(d);
}

// Whole seconds and the nanoseconds below them, both rounded down, in integer arithmetic: exact
// for every tick count, where a double quotient loses a nanosecond on about one count in fifty
// at 10 MHz (157 ticks would come out as 15,699 ns) and all precision above 2^53 ticks.
// A factor with no frequency gives 0 and 0.
void ticksToTime(Uint64 ticks, const OSSTickConversionFactor& factor, Uint32* seconds,
                 Uint32* nanoseconds)
{
    const Uint64 frequency = factor.frequency;
    Uint64 s = 0;
    Uint64 ns = 0;
    if (frequency != 0) {
        s = ticks / frequency;
        const Uint64 rest = ticks % frequency;
        ns = rest <= UINT64_MAX / kNanosecondsPerSecond
                 ? rest * kNanosecondsPerSecond / frequency
                 : mulDiv128(rest, kNanosecondsPerSecond, frequency).low64();  // < 10^9
    }
    if (seconds) *seconds = static_cast<Uint32>(s);
    if (nanoseconds) *nanoseconds = static_cast<Uint32>(ns);
}

OSSErr timeToTicks(Uint64 t, const OSSTickConversionFactor& factor, Uint64* ticks)
{
    *ticks = 0;
    if (t > kMaxTimeValue) return ECF_OSSTICK_TIME_VALUE_TOO_BIG;
    if (t < kMinTimeValue) return ECF_OSSTICK_TIME_VALUE_TOO_SMALL;

    // The nanoseconds of 65536 ticks: keeps the precision of the factor without a division of
    // the time by the frequency.
    Uint32 s = 0;
    Uint32 ns = 0;
    ticksToTime(kProbeTicks, factor, &s, &ns);
    const Uint64 probeNs = static_cast<Uint64>(s) * kNanosecondsPerSecond + ns;
    // A factor whose 65536 ticks take no measurable time (no frequency, or an absurd one)
    // would divide by zero: no tick count can represent the time.
    if (probeNs == 0) return ECF_OSSTICK_TIME_VALUE_TOO_BIG;

    Uint64 result;
    if (t <= kMax48Bit) {
        result = t * kProbeTicks / probeNs;
    } else {
        const Uint128 wide = mulDiv128(t, kProbeTicks, probeNs);
        // More ticks than 64 bits hold (a counter faster than about 4.3 GHz, at the longest
        // times): the low 64 bits alone would stand for a much shorter interval.
        if (wide.high64() != 0) return ECF_OSSTICK_TIME_VALUE_TOO_BIG;
        result = wide.low64();
    }
    *ticks = result;
    return result == 0 ? ECF_OSSTICK_TIME_VALUE_TOO_SMALL : OSS_OK;
}

// Smallest positive difference of `read` around one calibration loop, over five samples that
// moved; 1 when the counter never moved.
template <typename Read>
Uint64 smallestLoopDifference(Read read)
{
    Sint64 best = 0;
    int samples = 0;
    for (int pass = 0; pass < kCalibrationMaxPasses && samples < kCalibrationSamples; ++pass) {
        const Sint64 before = read();
        ossWasteTime(kCalibrationWork);
        const Sint64 diff = read() - before;
        if (diff <= 0) continue;
        if (samples == 0 || diff < best) best = diff;
        ++samples;
    }
    return samples ? static_cast<Uint64>(best) : 1;
}

Sint64 readPerformanceCounter()
{
    LARGE_INTEGER c;
    return QueryPerformanceCounter(&c) ? c.QuadPart : 0;
}

Sint64 readTimeStampCounter()
{
    return static_cast<Sint64>(__rdtsc());
}

void calibrate(OSSTickConversionFactor& f)
{
    LARGE_INTEGER freq;
    if (!QueryPerformanceFrequency(&freq) || freq.QuadPart <= 0) {
        f.calibrationTicks = 1;
        f.calibrationCycles = 1;
        f.frequency = 1;
        return;
    }
    const Uint64 ticks = smallestLoopDifference(readPerformanceCounter);
    // The time-stamp counter is read only where the processor has one (the instruction faults
    // otherwise).
    const Uint64 cycles =
        g_bCanUseTimeStampCounter ? smallestLoopDifference(readTimeStampCounter) : 1;
    f.calibrationTicks = static_cast<Uint32>(ticks);
    f.calibrationCycles = static_cast<Uint32>(cycles);
    f.frequency = static_cast<Uint64>(freq.QuadPart);
}

}  // namespace

volatile Uint8 g_bCanUseTimeStampCounter = 0;

void ossTimeStampCounterTest()
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    bool usable = false;
    unsigned eax, ebx, ecx, edx;
    // __get_cpuid returns 0 when leaf 1 is not available.
    if (si.wProcessorLevel >= 5 && __get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        usable = (edx & (1u << 4)) != 0;
    }
    g_bCanUseTimeStampCounter = usable ? 1 : 0;
}

void OSSTickConversionFactor::initialize()
{
    OSSLatchGuard hold(g_calibrationLatch);
    if (!g_calibrated) {
        calibrate(g_factor);
        g_calibrated = true;
    }
    *this = g_factor;
}

void OSSTickDelta::convertToTime(const OSSTickConversionFactor& factor, Uint32* seconds,
                                 Uint32* nanoseconds) const
{
    ticksToTime(ticks, factor, seconds, nanoseconds);
}

OSSErr OSSTickDelta::initFromTimeValue64(const OSSTickConversionFactor& factor, Uint64 nanoseconds)
{
    return timeToTicks(nanoseconds, factor, &ticks);
}

OSSErr OSSTickDelta::initFromTimeValue(const OSSTickConversionFactor& factor, Uint32 nanoseconds)
{
    return timeToTicks(nanoseconds, factor, &ticks);
}

void OSSTick::convertToTime(const OSSTickConversionFactor& factor, Uint32* seconds,
                            Uint32* nanoseconds) const
{
    ticksToTime(ticks, factor, seconds, nanoseconds);
}

OSSErr OSSTick::initFromTimeValue(const OSSTickConversionFactor& factor, Uint32 nanoseconds)
{
    return timeToTicks(nanoseconds, factor, &ticks);
}
