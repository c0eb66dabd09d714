// The pacing rule of push sources (CFrameScheduler) against a simulated clock: deadlines that hold
// however long each wait oversleeps, a stall followed by the rate and never a burst, a writer at the
// client's rate whose frames then leave as they arrive, and writers at other rates that leave the
// client's rate alone. Simulated time is exact, so these hold to the tick, with no wall clock.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FrameScheduler.h"

namespace {

// Ticks of 100 ns, so durations read as reference times.
constexpr LONGLONG kMs = 10000;
constexpr LONGLONG kFrame = 333333; // 30 frames per second

// A clock that moves only when waited on (by the wait plus a chosen oversleep) or told to.
class CSimulatedClock : public IFrameClock {
public:
    LONGLONG Now() override { return m_now; }
    LONGLONG Frequency() override { return 10000000; }
    void Sleep(DWORD ms) override {
        ++m_sleeps;
        m_now += static_cast<LONGLONG>(ms) * kMs + m_oversleep;
    }
    void Advance(LONGLONG ticks) { m_now += ticks; }

    LONGLONG m_now = 1000 * kMs; // not 0: nothing may depend on the clock starting there
    LONGLONG m_oversleep = 0;
    long m_sleeps = 0;
};

// A writer publishing frames at first + n * period (+ a jitter that repeats every 7 frames). The
// client notices each new frame at the scheduler's next look and takes the newest frame with every
// sample, as the device pin does.
struct Writer {
    LONGLONG first;
    LONGLONG period;
    LONGLONG jitter = 0; // frames land up to this much either side of their time

    LONGLONG FrameTime(long n) const {
        static const int kPattern[7] = {0, 3, -2, 1, -3, 2, -1}; // thirds of the jitter
        return first + n * period + jitter * kPattern[n % 7] / 3;
    }
    // The newest frame written by time t, or -1.
    long NewestAt(LONGLONG t) const {
        if (t < first - jitter)
            return -1;
        long n = static_cast<long>((t - first + jitter) / period) + 1;
        while (n >= 0 && FrameTime(n) > t)
            --n;
        return n;
    }
};

struct Delivery {
    LONGLONG at;
    long frame;   // the writer's frame it carried, -1 for none
    bool fresh;   // the first sample to carry that frame
    LONGLONG age; // fresh: time since that frame was written
};

class CScheduledStream {
public:
    explicit CScheduledStream(const Writer* pWriter = nullptr) : m_pWriter(pWriter), m_scheduler(m_clock) {
        m_scheduler.Start();
    }

    // One sample: the wait, then the newest frame taken.
    Delivery Next(LONGLONG rtFrameTime = kFrame) {
        const LONGLONG at = m_scheduler.WaitForDelivery(rtFrameTime, [this] {
            const long newest = m_pWriter ? m_pWriter->NewestAt(m_clock.Now()) : -1;
            if (newest <= m_noticed)
                return false;
            m_noticed = newest;
            return true;
        });
        EXPECT_EQ(at, m_clock.Now()) << "the time of delivery is the clock's";
        Delivery d = {at, -1, false, 0};
        if (m_pWriter) {
            d.frame = m_pWriter->NewestAt(at);
            d.fresh = d.frame > m_taken;
            if (d.fresh) {
                d.age = at - m_pWriter->FrameTime(d.frame);
                m_taken = d.frame;
            }
        }
        return d;
    }
    std::vector<Delivery> Run(size_t count) {
        std::vector<Delivery> out;
        for (size_t i = 0; i < count; ++i)
            out.push_back(Next());
        return out;
    }

    CSimulatedClock m_clock;
    const Writer* m_pWriter;
    CFrameScheduler m_scheduler;
    long m_noticed = -1; // the newest frame the scheduler was told of
    long m_taken = -1;   // the newest frame a sample carried
};

// Samples per second from sample `from` to the last.
double Fps(const std::vector<Delivery>& d, size_t from = 0) {
    return static_cast<double>(d.size() - 1 - from) * 1e7 / static_cast<double>(d.back().at - d[from].at);
}

} // namespace

// Each sample is due one frame time after the previous deadline, so a wait that oversleeps delays
// that one sample and nothing after it: after 30 s the 900th sample is still on time.
TEST(FrameSchedulerTest, DeliveriesKeepToTheirDeadlinesHoweverLongEachWaitOversleeps) {
    for (LONGLONG oversleep : {0LL, 3 * kMs / 10, 95 * kMs / 100, 25 * kMs / 10}) {
        SCOPED_TRACE("each 1 ms wait lasts " + std::to_string(1 + oversleep / double(kMs)) + " ms");
        CScheduledStream stream;
        stream.m_clock.m_oversleep = oversleep;
        const std::vector<Delivery> d = stream.Run(901);
        const LONGLONG start = d[0].at;
        for (size_t k = 0; k < d.size(); ++k) {
            SCOPED_TRACE("sample " + std::to_string(k));
            ASSERT_GE(d[k].at, start + static_cast<LONGLONG>(k) * kFrame);
            ASSERT_LE(d[k].at, start + static_cast<LONGLONG>(k) * kFrame + kMs + oversleep)
                << "late by no more than one look at the clock";
        }
        EXPECT_NEAR(30.0, Fps(d), 0.005);
    }
}

// A stall that leaves the next sample more than a frame time late (the client's graph held the
// previous one, or the thread was not run) is followed by one sample at once and then the plain rate
// counted from it, never by the missed samples in a burst. Less than a frame time late, the sample
// leaves at once and the old schedule goes on.
TEST(FrameSchedulerTest, AStallIsFollowedByTheRateNotByABurst) {
    struct Case {
        const char* name;
        LONGLONG late; // how late the stall leaves the next sample
        bool scheduleKept;
    } cases[] = {
        {"5.3 frame times late", 53 * kFrame / 10, false},
        {"1.2 frame times late", 12 * kFrame / 10, false},
        {"0.6 frame times late", 6 * kFrame / 10, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CScheduledStream stream;
        const std::vector<Delivery> before = stream.Run(10);
        const LONGLONG start = before[0].at;
        stream.m_clock.m_now = start + 10 * kFrame + c.late;
        const LONGLONG resumed = stream.m_clock.Now();
        const std::vector<Delivery> after = stream.Run(30);
        EXPECT_EQ(resumed, after[0].at) << "the first sample after the stall leaves at once";
        const LONGLONG grid = c.scheduleKept ? start + 10 * kFrame : resumed;
        for (size_t k = 1; k < after.size(); ++k) {
            SCOPED_TRACE("sample " + std::to_string(k) + " after the stall");
            EXPECT_GE(after[k].at, grid + static_cast<LONGLONG>(k) * kFrame);
            EXPECT_LE(after[k].at, grid + static_cast<LONGLONG>(k) * kFrame + kMs);
        }
    }
}

// Frames written at the client's rate, wherever in the frame period they land and with some
// jitter: after a short approach each one leaves within one look of its arrival, each exactly once,
// and the rate stays the client's.
TEST(FrameSchedulerTest, FramesOfAWriterAtTheClientsRateLeaveAsTheyArrive) {
    for (LONGLONG offset : {kFrame / 10, kFrame / 2, 93 * kFrame / 100}) {
        for (LONGLONG jitter : {0LL, 5 * kMs / 10}) {
            SCOPED_TRACE("writer " + std::to_string(offset / double(kMs)) + " ms into the period, jitter " +
                         std::to_string(jitter / double(kMs)) + " ms");
            const Writer writer = {1000 * kMs + offset, kFrame, jitter};
            CScheduledStream stream(&writer);
            stream.m_clock.m_oversleep = 2 * kMs / 10;
            const std::vector<Delivery> d = stream.Run(900);
            const size_t settled = 30; // one second to fall into step
            for (size_t k = settled; k < d.size(); ++k) {
                SCOPED_TRACE("sample " + std::to_string(k));
                ASSERT_TRUE(d[k].fresh) << "a new frame in every sample";
                ASSERT_EQ(d[k - 1].frame + 1, d[k].frame) << "none skipped";
                ASSERT_LE(d[k].age, kMs + 2 * kMs / 10) << "it leaves within one look of its arrival";
            }
            EXPECT_NEAR(30.0, Fps(d, settled), 0.01);
        }
    }
}

// A writer at another rate does not drag the schedule: over 30 s the client still gets its 30
// samples a second, evenly spaced, and no frame waits longer than a frame time for its sample. At
// twice the rate every other frame leaves as it arrives.
TEST(FrameSchedulerTest, WritersAtOtherRatesLeaveTheClientsRateAlone) {
    for (double writerFps : {25.0, 60.0, 15.0, 50.0}) {
        for (LONGLONG offset : {kFrame / 7, 2 * kFrame / 3}) {
            SCOPED_TRACE("writer at " + std::to_string(writerFps) + " frames/s, first frame " +
                         std::to_string(offset / double(kMs)) + " ms in");
            const Writer writer = {1000 * kMs + offset, static_cast<LONGLONG>(1e7 / writerFps + 0.5), 0};
            CScheduledStream stream(&writer);
            stream.m_clock.m_oversleep = 2 * kMs / 10;
            const std::vector<Delivery> d = stream.Run(961);
            // From the third second: the first two may go to falling into step with a writer at
            // twice the rate, a move of at most half a frame time, once.
            EXPECT_NEAR(30.0, Fps(d, 60), 0.01);
            for (size_t k = 1; k < d.size(); ++k) {
                SCOPED_TRACE("sample " + std::to_string(k));
                const LONGLONG interval = d[k].at - d[k - 1].at;
                ASSERT_GE(interval, kFrame - CFrameScheduler::kTolerance) << "never a burst";
                ASSERT_LE(interval, kFrame + CFrameScheduler::kTolerance + CFrameScheduler::kMaxStep + kMs +
                                        2 * kMs / 10);
                if (d[k].fresh) {
                    ASSERT_LE(d[k].age, kFrame) << "frame " << d[k].frame;
                }
                if (writerFps == 60.0 && k >= 60) {
                    ASSERT_TRUE(d[k].fresh);
                    ASSERT_LE(d[k].age, kMs + 2 * kMs / 10) << "in step with every other frame";
                }
            }
        }
    }
}

// A writer just off the client's rate is followed for at most half a frame time and then let slip
// by: over two minutes the client's rate holds.
TEST(FrameSchedulerTest, AWriterJustOffTheClientsRateDoesNotDragIt) {
    for (double writerFps : {29.9, 29.97, 30.03, 30.1}) {
        SCOPED_TRACE("writer at " + std::to_string(writerFps) + " frames/s");
        const Writer writer = {1000 * kMs + kFrame / 3, static_cast<LONGLONG>(1e7 / writerFps + 0.5), 0};
        CScheduledStream stream(&writer);
        stream.m_clock.m_oversleep = 2 * kMs / 10;
        const std::vector<Delivery> d = stream.Run(3601);
        EXPECT_NEAR(30.0, Fps(d), 0.01);
    }
}

// A frame time of 0 means no pacing at all; when a frame time comes back it counts from the last
// sample, and a new run counts from the previous run's last sample.
TEST(FrameSchedulerTest, UnpacedSamplesAndRestarts) {
    CScheduledStream stream;
    // Due at `due`: the sample leaves at the first look from then on, each look 1 ms after the last.
    auto expectAt = [&](LONGLONG due, LONGLONG at, const char* what) {
        EXPECT_GE(at, due) << what;
        EXPECT_LT(at, due + kMs) << what;
    };
    const LONGLONG t0 = stream.Next(0).at;
    EXPECT_EQ(t0, stream.Next(0).at) << "no wait without a frame time";
    EXPECT_EQ(0, stream.m_clock.m_sleeps);
    const LONGLONG t1 = stream.Next().at;
    expectAt(t0 + kFrame, t1, "paced again, from the last sample");

    // Stopped and started again within a frame time: the first sample still keeps its distance.
    stream.m_clock.Advance(kFrame / 3);
    stream.m_scheduler.Start();
    expectAt(t1 + kFrame, stream.Next().at, "a quick restart");
    // Started long after: at once, and the rate from there.
    stream.m_clock.Advance(50 * kFrame);
    stream.m_scheduler.Start();
    const LONGLONG t2 = stream.m_clock.Now();
    EXPECT_EQ(t2, stream.Next().at) << "a late restart";
    expectAt(t2 + kFrame, stream.Next().at, "the rate after a late restart");
}
