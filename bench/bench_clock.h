// The benchmarks' clock: the performance counter, in seconds or nanoseconds.
#ifndef OSSE_BENCH_CLOCK_H
#define OSSE_BENCH_CLOCK_H

#include <windows.h>

inline double nowSeconds()
{
    static const double secondsPerCount = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return 1.0 / (double)f.QuadPart;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart * secondsPerCount;
}

inline double nowNs()
{
    return nowSeconds() * 1e9;
}

#endif
