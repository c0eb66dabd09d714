// CPerformanceClock: the performance counter, the clock a pin paces its frames by.
//
// Threading: immutable after construction; any thread may read it.
#pragma once

#include <windows.h>

class CPerformanceClock {
public:
    // Reads the counter's frequency once; it is fixed while the system runs.
    CPerformanceClock();

    LONGLONG Now() const;
    // Ticks per second, never 0.
    LONGLONG Frequency() const { return m_llFrequency; }
    // A duration in 100-ns units as whole ticks of this clock (rounded down).
    LONGLONG TicksFromReferenceTime(LONGLONG rt) const;

private:
    LONGLONG m_llFrequency = 1;
};
