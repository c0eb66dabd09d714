#include "PerformanceClock.h"

CPerformanceClock::CPerformanceClock() {
    LARGE_INTEGER freq;
    if (QueryPerformanceFrequency(&freq) && freq.QuadPart > 0)
        m_llFrequency = freq.QuadPart;
}

LONGLONG CPerformanceClock::Now() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now); // cannot fail on the systems the modules run on
    return now.QuadPart;
}

LONGLONG CPerformanceClock::TicksFromReferenceTime(LONGLONG rt) const {
    // Whole seconds and the rest apart: rt * frequency overflows 64 bits for long durations on a
    // fast counter (a 3 GHz counter after about 50 minutes of 100-ns units).
    const LONGLONG kUnitsPerSecond = 10000000;
    return (rt / kUnitsPerSecond) * m_llFrequency + (rt % kUnitsPerSecond) * m_llFrequency / kUnitsPerSecond;
}
