#include "FrameScheduler.h"

#include <algorithm>

LONGLONG TicksFromReferenceTime(LONGLONG rt, LONGLONG frequency) {
    // Whole seconds and the rest apart: rt * frequency overflows 64 bits for long durations on a
    // fast counter (a 3 GHz counter after about 50 minutes of 100-ns units).
    const LONGLONG kUnitsPerSecond = 10000000;
    return (rt / kUnitsPerSecond) * frequency + (rt % kUnitsPerSecond) * frequency / kUnitsPerSecond;
}

void CFrameScheduler::Start() {
    // Counted from the last sample that left, not from its deadline: a run that begins long after
    // the previous one ended must not be owed the samples in between.
    if (m_bScheduled)
        m_llDeadline = m_llLast;
    m_llStep = 0;
    m_llOffset = 0;
    m_bArrived = false;
    ForgetWriter();
}

void CFrameScheduler::ForgetWriter() {
    m_bPhase = false;
}

LONGLONG CFrameScheduler::Wrap(LONGLONG d) const {
    LONGLONG r = d % m_llFrame;
    if (r < 0)
        r += m_llFrame;
    if (2 * r >= m_llFrame)
        r -= m_llFrame;
    return r;
}

bool CFrameScheduler::BeginWait(LONGLONG rtFrameTime, LONGLONG now) {
    if (rtFrameTime <= 0) {
        m_rtFrameTime = rtFrameTime;
        m_llFrame = 0;
        return false;
    }
    if (rtFrameTime != m_rtFrameTime) {
        const LONGLONG frequency = m_clock.Frequency();
        m_llFrame = std::max<LONGLONG>(1, TicksFromReferenceTime(rtFrameTime, frequency));
        // A very short frame time shrinks the allowances with it, so that an early sample still
        // leaves most of a frame time after the previous one.
        m_llTolerance = std::min(TicksFromReferenceTime(kTolerance, frequency), m_llFrame / 4);
        m_llLead = std::min(TicksFromReferenceTime(kLead, frequency), m_llTolerance / 2);
        m_llMaxStep = std::min(TicksFromReferenceTime(kMaxStep, frequency), m_llFrame / 8);
        m_llSteadiness = std::min(TicksFromReferenceTime(kSteadiness, frequency), m_llFrame / 8);
        // Where the writer's frames landed was measured against the old period.
        m_llStep = 0;
        ForgetWriter();
        m_rtFrameTime = rtFrameTime;
    }
    m_llDue = m_bScheduled ? m_llDeadline + m_llFrame + m_llStep : now;
    return true;
}

void CFrameScheduler::NoteArrival(LONGLONG now) {
    m_bArrived = true;
    m_llArrival = now;
}

bool CFrameScheduler::IsDue(LONGLONG now) const {
    if (now >= m_llDue)
        return true;
    if (!m_bArrived)
        return false;
    // A frame that arrives in the last moments before its deadline leaves as it arrives, but never
    // sooner than the frame time less the tolerance after the previous sample (the spacing) nor more
    // than the tolerance before the deadline (the rate). One that was already waiting when that
    // window opened waits for the deadline: a writer twice our rate always has a frame waiting, and
    // sending it early would take the frame half a period old instead of the one about to come.
    const LONGLONG opens = std::max(m_llDue - m_llTolerance, m_llLast + m_llFrame - m_llTolerance);
    return m_llArrival >= opens;
}

LONGLONG CFrameScheduler::Delivered(LONGLONG now) {
    const bool bFresh = m_bArrived;
    m_bArrived = false;
    m_llLast = now;
    m_bScheduled = true;
    m_llStep = 0;
    if (m_llFrame == 0) {
        // Unpaced: should pacing come back, it counts from here.
        m_llDeadline = now;
        ForgetWriter();
        return now;
    }

    m_llDeadline = m_llDue;
    if (now - m_llDue > m_llFrame) {
        // More than a frame time late (a stall here or downstream): the schedule starts again from
        // now. Keeping the old one would owe the client the missed samples, sent in a burst.
        m_llDeadline = now;
        m_llOffset = 0;
        ForgetWriter();
    } else if (bFresh) {
        // Where the writer's frame landed against where it is wanted (kLead before the deadline),
        // the short way round the period.
        const LONGLONG phase = Wrap(m_llArrival - (m_llDue - m_llLead));
        // Only a writer that lands where it landed last time (allowing for our own last move) keeps
        // our rate; one at another rate wanders by a large part of a frame each time and must not
        // drag the schedule, or the rate would follow it.
        if (m_bPhase) {
            const LONGLONG wander = Wrap(phase - m_llPhase);
            if (wander >= -m_llSteadiness && wander <= m_llSteadiness) {
                // Halfway towards it and at most kMaxStep: one late frame cannot throw the schedule,
                // and the deadline never jumps by more than a small part of a frame.
                LONGLONG step = std::max(-m_llMaxStep, std::min(m_llMaxStep, phase / 2));
                // Never more than half a frame time from plain deadlines in all: a writer a little
                // off our rate is followed that far and then let slip by, instead of dragging the
                // client's rate to its own.
                const LONGLONG half = m_llFrame / 2;
                step = std::max(-half - m_llOffset, std::min(half - m_llOffset, step));
                m_llStep = step;
                m_llOffset += step;
            }
        }
        m_llPhase = phase - m_llStep;
        m_bPhase = true;
    } else {
        // A period without a fresh frame: the writer's rhythm is unknown until it shows again.
        ForgetWriter();
    }
    return now;
}
