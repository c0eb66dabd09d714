// CFrameScheduler: when a push source's next sample is due, and IFrameClock, the clock it reads.
//
// Deadlines, not intervals: each sample is due one frame time after the previous one's deadline, so
// oversleeping a wait never lowers the rate. A sample more than one frame time late starts the
// schedule again from now: a stalled source resumes at its rate and never sends a burst to catch up.
//
// A source fed by a writer (a frame channel) reports each frame of the writer as it notices it.
// A frame that arrives once the frame time less kTolerance has passed (since the previous sample,
// and before its deadline) leaves at once instead of waiting for the deadline. When the writer keeps
// the client's rate, or a whole multiple of it, the newest of its frames lands at the same point of
// the frame period time after time; the schedule then moves towards it, at most kMaxStep a frame,
// until each deadline falls kLead after the writer's frame, so every frame leaves as it is written.
// A writer at another rate lands at a different point each time and leaves the schedule alone. The
// schedule never strays more than half a frame time from where plain deadlines would have put it,
// so whatever the writer does, the average rate stays the client's.
//
// Threading: one thread uses a scheduler, the pin's worker; it holds no lock and starts no thread.
#pragma once

#include <windows.h>

class IFrameClock {
public:
    virtual ~IFrameClock() = default;
    virtual LONGLONG Now() = 0;
    // Ticks per second, never 0.
    virtual LONGLONG Frequency() = 0;
    // Waits about ms milliseconds (a look at the writer comes between two waits).
    virtual void Sleep(DWORD ms) = 0;
};

// A duration in 100-ns units as whole ticks of a clock of this frequency (rounded down).
LONGLONG TicksFromReferenceTime(LONGLONG rt, LONGLONG frequency);

class CFrameScheduler {
public:
    // Durations in 100-ns units. A fresh frame may leave up to kTolerance before its deadline; a
    // writer in step lands kLead before the deadline; the schedule moves at most kMaxStep a frame;
    // a writer at the client's rate lands within kSteadiness of where it landed the frame before.
    static constexpr LONGLONG kTolerance = 30000;
    static constexpr LONGLONG kLead = 15000;
    static constexpr LONGLONG kMaxStep = 10000;
    static constexpr LONGLONG kSteadiness = 10000;
    static constexpr DWORD kPollMs = 1;

    explicit CFrameScheduler(IFrameClock& clock) : m_clock(clock) {}
    CFrameScheduler(const CFrameScheduler&) = delete;
    CFrameScheduler& operator=(const CFrameScheduler&) = delete;

    // A new run of the stream: what was learnt of the writer is forgotten. The first sample is due
    // one frame time after the last one of the previous run, which is at once when that is longer
    // ago than a frame time (and always at a scheduler's first run).
    void Start();

    // Waits until the next sample is due and returns the clock's time then. rtFrameTime (100-ns
    // units, a DirectShow reference time) is read afresh for every sample; 0 or less means no
    // pacing. frameArrived() is asked at every look whether the writer has written a frame since the
    // previous look; the caller takes the newest frame with the sample. A source without a writer
    // passes [] { return false; }.
    template <typename FrameArrived>
    LONGLONG WaitForDelivery(LONGLONG rtFrameTime, FrameArrived&& frameArrived) {
        LONGLONG now = m_clock.Now();
        if (!BeginWait(rtFrameTime, now))
            return Delivered(now);
        for (;;) {
            if (frameArrived())
                NoteArrival(now);
            if (IsDue(now))
                return Delivered(now);
            m_clock.Sleep(kPollMs);
            now = m_clock.Now();
        }
    }

private:
    // Sets up one wait; false when there is nothing to wait for (no pacing).
    bool BeginWait(LONGLONG rtFrameTime, LONGLONG now);
    void NoteArrival(LONGLONG now);
    bool IsDue(LONGLONG now) const;
    // Books a delivery at now and works out what the next sample's deadline depends on.
    LONGLONG Delivered(LONGLONG now);
    void ForgetWriter();
    // d brought into [-frame/2, frame/2): the shortest way round the frame period.
    LONGLONG Wrap(LONGLONG d) const;

    IFrameClock& m_clock;
    LONGLONG m_rtFrameTime = -1; // the frame time m_llFrame was computed from
    LONGLONG m_llFrame = 0;      // the frame time in ticks
    LONGLONG m_llTolerance = 0, m_llLead = 0, m_llMaxStep = 0, m_llSteadiness = 0;

    bool m_bScheduled = false; // a deadline exists to count from
    LONGLONG m_llDeadline = 0; // the previous sample's deadline
    LONGLONG m_llStep = 0;     // how far the next deadline moves towards the writer
    LONGLONG m_llOffset = 0;   // how far all the moves took the schedule from plain deadlines
    LONGLONG m_llLast = 0;     // when the previous sample left
    LONGLONG m_llDue = 0;      // the sample being waited for: its deadline

    bool m_bArrived = false;  // a fresh frame is waiting
    LONGLONG m_llArrival = 0; // when the newest frame was noticed
    bool m_bPhase = false;    // m_llPhase holds where the previous fresh frame landed
    LONGLONG m_llPhase = 0;   // where this sample's frame should land if the writer keeps our rate
};
