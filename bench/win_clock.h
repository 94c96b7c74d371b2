// Wall-clock time for the benchmarks that run under Wine or on Windows,
// where Google Benchmark is not built.
#ifndef FERNQUILL_BENCH_WIN_CLOCK_H
#define FERNQUILL_BENCH_WIN_CLOCK_H

#include <windows.h>

// Seconds since start, a QueryPerformanceCounter() reading.
inline double secondsSince(LARGE_INTEGER start)
{
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

#endif
