// CPerformanceClock: the performance counter, the clock a pin paces its frames by.
//
// Threading: immutable after construction; any thread may read it.
#pragma once

#include <windows.h>

#include "FrameScheduler.h"

class CPerformanceClock : public IFrameClock {
public:
    // Reads the counter's frequency once; it is fixed while the system runs.
    CPerformanceClock();

    LONGLONG Now() override;
    LONGLONG Frequency() override { return m_llFrequency; }
    void Sleep(DWORD ms) override { ::Sleep(ms); }

private:
    LONGLONG m_llFrequency = 1;
};
