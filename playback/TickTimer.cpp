#include "TickTimer.h"

#include <mmsystem.h>

#include <algorithm>

#include "Log.h"

CTickTimer::CTickTimer(DWORD dwTicksPerSecond) : m_dwTicksPerSecond(std::max<DWORD>(dwTicksPerSecond, 1)) {
    m_bPeriodRaised = timeBeginPeriod(1) == TIMERR_NOERROR;
    // Without a waitable timer the waits fall back to Sleep, which the raised period makes as fine.
    m_timer.reset(CreateWaitableTimerW(nullptr, FALSE, nullptr));
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    m_llFrequency = std::max<LONGLONG>(frequency.QuadPart, 1);
    Restart();
}

CTickTimer::~CTickTimer() {
    m_timer.reset();
    if (m_bPeriodRaised)
        timeEndPeriod(1);
}

LONGLONG CTickTimer::Now() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

LONGLONG CTickTimer::TickTime(LONGLONG llTick) const {
    // Whole seconds and the remainder apart, so that long runs neither overflow nor drift.
    const LONGLONG seconds = llTick / m_dwTicksPerSecond;
    const LONGLONG rest = llTick % m_dwTicksPerSecond;
    return m_llStart + seconds * m_llFrequency + rest * m_llFrequency / m_dwTicksPerSecond;
}

void CTickTimer::Restart() {
    m_llStart = Now();
    m_llNextTick = 1;
}

void CTickTimer::Pause(LONGLONG llCounts) {
    // In 100-ns units, negative for a wait relative to now.
    const LONGLONG hundredNs = std::max<LONGLONG>(llCounts * 10000000 / m_llFrequency, 1);
    if (m_timer) {
        LARGE_INTEGER due;
        due.QuadPart = -hundredNs;
        if (SetWaitableTimer(m_timer.get(), &due, 0, nullptr, nullptr, FALSE)) {
            // Bounded all the same: a timer that never fires must not stall the playback.
            const DWORD bound = static_cast<DWORD>(std::min<LONGLONG>(hundredNs / 10000 + 50, 60000));
            (void)WaitForSingleObject(m_timer.get(), bound); // the caller looks at the clock itself
            return;
        }
    }
    Sleep(static_cast<DWORD>(std::clamp<LONGLONG>(hundredNs / 10000, 1, 60000)));
}

bool CTickTimer::WaitBlock(DWORD dwTimeoutMs) {
    const LONGLONG start = Now();
    const bool bounded = dwTimeoutMs != INFINITE;
    const LONGLONG deadline = start + static_cast<LONGLONG>(dwTimeoutMs) * m_llFrequency / 1000;
    for (;;) {
        const LONGLONG now = Now();
        const LONGLONG due = TickTime(m_llNextTick);
        if (now >= due) {
            // The first grid point after now is the next tick; all passed ones collapse into this one.
            const LONGLONG elapsed = now - m_llStart;
            const LONGLONG passed = elapsed / m_llFrequency * m_dwTicksPerSecond +
                                    elapsed % m_llFrequency * m_dwTicksPerSecond / m_llFrequency;
            m_llNextTick = std::max(m_llNextTick + 1, passed + 1);
            // Rounding in TickTime can put grid point `passed + 1` a count before now.
            while (TickTime(m_llNextTick) <= now)
                ++m_llNextTick;
            return true;
        }
        if (bounded && now >= deadline)
            return false;
        // Early wake-ups (a timer a little ahead of the counter) just go round again.
        Pause((bounded ? std::min(due, deadline) : due) - now);
    }
}
