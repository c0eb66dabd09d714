#include "PerformanceClock.h"

CPerformanceClock::CPerformanceClock() {
    LARGE_INTEGER freq;
    if (QueryPerformanceFrequency(&freq) && freq.QuadPart > 0)
        m_llFrequency = freq.QuadPart;
}

LONGLONG CPerformanceClock::Now() {
    LARGE_INTEGER now;
    (void)QueryPerformanceCounter(&now); // cannot fail on the systems the modules run on
    return now.QuadPart;
}
