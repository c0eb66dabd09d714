// CTickTimer: a pace of a fixed number of ticks a second (60: one per block of sound) from a timer,
// for playbacks that have no sound to be paced by, or no sound output at all.
//
// Ticks fall on a fixed grid from the last Restart, so waits do not add up to drift. A tick that
// passes while nobody waits is not lost but not stored either: however many passed, the next
// WaitBlock returns at once, once, and the one after waits for the next grid point, the way block
// ends collapse on the sound output's auto-reset event.
//
// Threading: one thread (the playback thread) calls Restart and WaitBlock; the object starts no
// thread of its own. It raises the system timer resolution to 1 ms for its lifetime, without which
// Windows rounds waits up to its default 15.6 ms period and a 16.7 ms tick would come every 31 ms.
#pragma once

#include <windows.h>

#include "BlockPacer.h"
#include "UniqueAny.h"

class CTickTimer : public IBlockPacer {
public:
    static constexpr DWORD kTicksPerSecond = 60;

    // The grid starts now: the first tick is one period away.
    explicit CTickTimer(DWORD dwTicksPerSecond = kTicksPerSecond);
    ~CTickTimer() override;
    CTickTimer(const CTickTimer&) = delete;
    CTickTimer& operator=(const CTickTimer&) = delete;

    // Starts the grid again from now, as a playback start does with the sound output.
    void Restart();
    // True when a tick came within dwTimeoutMs (at once when one passed since the last wait).
    bool WaitBlock(DWORD dwTimeoutMs) override;

private:
    LONGLONG Now() const;
    LONGLONG TickTime(LONGLONG llTick) const;
    // Sleeps for about llCounts performance-counter counts (at least a little).
    void Pause(LONGLONG llCounts);

    win::UniqueHandle m_timer;
    bool m_bPeriodRaised = false;
    DWORD m_dwTicksPerSecond;
    LONGLONG m_llFrequency = 1;
    LONGLONG m_llStart = 0;
    LONGLONG m_llNextTick = 1; // index of the next tick on the grid
};
