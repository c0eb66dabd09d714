// CSoundCapture on the bench's real DirectSound capture device (the PulseAudio null sink's
// monitor): the buffer and ring layout, the set-up failures the platform really gives, the stop
// rules and their timing, and one worker per capture however often it is started.
#include <windows.h>

#include <mmsystem.h>

#include <dsound.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SoundBlock.h"
#include "SoundCapture.h"
#include "SoundCaptureBuffer.h"
#include "SoundCaptureTestUtil.h"
#include "TestFrames.h"
#include "UniqueAny.h"
#include "sound_capture_access.h"

using soundtest::BoundedCall;
using soundtest::ClockMs;
using testing_support::SoundCaptureTestAccess;

namespace {

constexpr DWORD kBlock = 22048;

// Waits until the worker has copied something into the ring; false after timeoutMs.
bool WaitForFirstCopy(CSoundCapture& capture, DWORD start, DWORD timeoutMs) {
    for (const double t0 = ClockMs(); ClockMs() - t0 < timeoutMs; Sleep(10))
        if (capture.GetWritePos() != start)
            return true;
    return false;
}

bool HasEnded(const win::UniqueHandle& thread) {
    return thread && WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

} // namespace

TEST(SoundCaptureTest, SetupLaysOutBlocksNotificationsBufferAndRing) {
    struct Case {
        int pre, post;
        int notifications;
        DWORD bytes;
    };
    const Case cases[] = {
        {5, 5, 80, 1763840},
        {30, 30, 480, 10583040},
        {1, 0, 8, 176384},
        {0, 3, 24, 529152},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pre) + " + " + std::to_string(c.post));
        MessageBoxRecorder boxes;
        CSoundCapture capture;
        ASSERT_TRUE(capture.Setup(soundtest::DefaultDevice(), c.pre, c.post))
            << "no capture buffer on the bench (message: "
            << (boxes.texts.empty() ? std::string("none")
                                    : std::string(boxes.texts[0].begin(), boxes.texts[0].end()))
            << ")";
        EXPECT_TRUE(boxes.texts.empty());

        CSoundCaptureBuffer* holder = SoundCaptureTestAccess::Holder(capture);
        ASSERT_TRUE(holder);
        EXPECT_EQ(kBlock, holder->m_dwBlockSize);
        EXPECT_EQ(c.notifications, holder->m_nNotifications);
        EXPECT_EQ(c.bytes, holder->m_dwBufferSize);
        ASSERT_EQ(static_cast<size_t>(c.notifications), holder->m_notifications.size());
        for (int i = 0; i < c.notifications; ++i) {
            EXPECT_EQ(kBlock * (i + 1) - 1, holder->m_notifications[i].dwOffset) << "notification " << i;
            EXPECT_EQ(holder->m_event.get(), holder->m_notifications[i].hEventNotify) << "notification " << i;
        }
        EXPECT_EQ(c.bytes - 1, holder->m_notifications.back().dwOffset)
            << "the last one is the buffer's last byte";

        // What the platform made of it.
        DSCBCAPS caps = {sizeof caps};
        ASSERT_EQ(DS_OK, holder->m_pBuffer->GetCaps(&caps));
        EXPECT_EQ(c.bytes, caps.dwBufferBytes);
        WAVEFORMATEX format = {};
        ASSERT_EQ(DS_OK, holder->m_pBuffer->GetFormat(&format, sizeof format, nullptr));
        EXPECT_EQ(WAVE_FORMAT_PCM, format.wFormatTag);
        EXPECT_EQ(2, format.nChannels);
        EXPECT_EQ(44100u, format.nSamplesPerSec);
        EXPECT_EQ(176400u, format.nAvgBytesPerSec);
        EXPECT_EQ(4, format.nBlockAlign);
        EXPECT_EQ(16, format.wBitsPerSample);

        ASSERT_TRUE(capture.GetWaveFormat());
        EXPECT_EQ(0, std::memcmp(&holder->m_format, capture.GetWaveFormat(), sizeof(WAVEFORMATEX)));
        EXPECT_TRUE(capture.GetRing());
        EXPECT_EQ(c.bytes, capture.GetRingSize());
        EXPECT_EQ(c.pre, capture.GetPre());
        EXPECT_EQ(c.post, capture.GetPost());
        SoundBlock block;
        capture.TakeRingInto(block);
        EXPECT_EQ(static_cast<int>(c.bytes), block.GetSize());
    }
}

TEST(SoundCaptureTest, SetupFailuresOfThePlatformShowTheirMessage) {
    struct Case {
        const char* name;
        SoundDeviceEntry entry;
        int pre, post;
        const wchar_t* message;
    };
    const Case cases[] = {
        {"a device that is not there", soundtest::MissingDevice(), 5, 5, L"Error1!"},
        {"no time at all: a zero-length buffer", soundtest::DefaultDevice(), 0, 0, L"Error2!"},
        {"a negative time", soundtest::DefaultDevice(), -3, 1, L"Error2!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBoxRecorder boxes;
        CSoundCapture capture;
        EXPECT_FALSE(capture.Setup(c.entry, c.pre, c.post));
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_EQ(c.message, boxes.texts[0]);
        EXPECT_FALSE(capture.GetRing());
        EXPECT_EQ(0u, capture.GetRingSize());
        EXPECT_TRUE(capture.GetWaveFormat()) << "the holder stays with its format";
    }
}

TEST(SoundCaptureTest, StopRequestsEndTheWorkerOfAFailedSetup) {
    // The clip maker starts the capture again after every clip, whether or not its Setup worked.
    // No notification ever comes then, so a worker that waited for one while holding its lock
    // would block every request for good.
    for (const bool missingDevice : {true, false}) {
        SCOPED_TRACE(missingDevice ? "no capture object" : "no capture buffer");
        MessageBoxRecorder boxes;
        CSoundCapture capture;
        ASSERT_FALSE(missingDevice ? capture.Setup(soundtest::MissingDevice(), 5, 5)
                                   : capture.Setup(soundtest::DefaultDevice(), 0, 0));

        // The delayed stop: the request returns at once, and the worker ends by itself the post
        // time later (5 s: a failed Setup keeps the default) plus at most one bounded wait.
        ASSERT_TRUE(capture.Start());
        ASSERT_TRUE(capture.IsRunning());
        double requested = 0;
        const double took = BoundedCall("RequestStop(StopAfterDelay)", 10000, [&] {
            requested = ClockMs();
            capture.RequestStop(CSoundCapture::StopAfterDelay);
        });
        EXPECT_LT(took, 1000.0);
        ASSERT_TRUE(capture.WaitForEnd(15000)) << "the worker did not end after the delay";
        const double ended = ClockMs() - requested;
        std::printf("[ figures  ] failed set-up, delayed stop of 5000 ms ended after %.0f ms\n", ended);
        EXPECT_GE(ended, 5000.0 - 20);
        EXPECT_LE(ended, 5000.0 + CSoundCapture::kBlockWaitMs + 750);

        // The immediate stop.
        ASSERT_TRUE(capture.Start());
        win::UniqueHandle worker = SoundCaptureTestAccess::DuplicateWorker(capture);
        const double stopTook =
            BoundedCall("RequestStop(StopNow)", 15000, [&] { capture.RequestStop(CSoundCapture::StopNow); });
        std::printf("[ figures  ] failed set-up, StopNow took %.0f ms\n", stopTook);
        EXPECT_LT(stopTook, 2000.0);
        EXPECT_TRUE(HasEnded(worker));

        // And deletion of a running one.
        ASSERT_TRUE(capture.Start());
        worker = SoundCaptureTestAccess::DuplicateWorker(capture);
        BoundedCall("Setup of a running capture", 15000,
                    [&] { capture.Setup(soundtest::MissingDevice(), 1, 1); });
        EXPECT_TRUE(HasEnded(worker));
    }
}

TEST(SoundCaptureTest, DelayedStopEndsThePostTimeLaterAndStopsTheBuffer) {
    MessageBoxRecorder boxes;
    CSoundCapture capture;
    ASSERT_TRUE(capture.Setup(soundtest::DefaultDevice(), 5, 5));
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(WaitForFirstCopy(capture, 0, 10000)) << "the worker copied nothing within 10 s";

    const double pressed = ClockMs();
    capture.RequestStop(CSoundCapture::StopAfterDelay);
    EXPECT_EQ(CSoundCapture::StopAfterDelay, SoundCaptureTestAccess::State(capture));
    ASSERT_TRUE(capture.WaitForEnd(15000)) << "the worker did not end by itself";
    const double ended = ClockMs() - pressed;
    std::printf("[ figures  ] delayed stop of 5000 ms ended after %.0f ms\n", ended);
    // About 5 s plus at most one block of 125 ms; the rest is room for a busy machine.
    EXPECT_GE(ended, 5000.0 - 20);
    EXPECT_LE(ended, 5000.0 + 125 + 500);

    CSoundCaptureBuffer* holder = SoundCaptureTestAccess::Holder(capture);
    DWORD status = 0xdeadbeef;
    ASSERT_EQ(DS_OK, holder->m_pBuffer->GetStatus(&status));
    EXPECT_FALSE(status & DSCBSTATUS_CAPTURING) << "the capture buffer still runs";

    // StopNow on the ended worker does nothing: it returns at once and the ring stands still.
    const DWORD writePos = capture.GetWritePos();
    const std::vector<BYTE> ring(capture.GetRing(), capture.GetRing() + capture.GetRingSize());
    const double took =
        BoundedCall("StopNow on an ended worker", 5000, [&] { capture.RequestStop(CSoundCapture::StopNow); });
    EXPECT_LT(took, 500.0);
    EXPECT_EQ(CSoundCapture::StopAfterDelay, SoundCaptureTestAccess::State(capture));
    EXPECT_EQ(writePos, capture.GetWritePos());
    EXPECT_EQ(0, std::memcmp(ring.data(), capture.GetRing(), ring.size()));
    EXPECT_FALSE(capture.IsRunning());

    // Started again, as the clip maker does after taking the block: the buffer runs and the ring
    // fills on from where it stopped.
    ASSERT_TRUE(capture.Start());
    EXPECT_EQ(writePos, capture.GetWritePos()) << "the newest byte is still just before the read cursor";
    ASSERT_TRUE(WaitForFirstCopy(capture, writePos, 10000)) << "nothing was copied after the restart";
    ASSERT_EQ(DS_OK, holder->m_pBuffer->GetStatus(&status));
    EXPECT_TRUE(status & DSCBSTATUS_CAPTURING);
    EXPECT_EQ(0u, capture.GetWritePos() % kBlock) << "whole blocks only";
}

TEST(SoundCaptureTest, StartingARunningCaptureLeavesOneWorker) {
    MessageBoxRecorder boxes;
    CSoundCapture capture;
    ASSERT_TRUE(capture.Setup(soundtest::DefaultDevice(), 1, 1));
    std::vector<win::UniqueHandle> workers;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(capture.Start());
        workers.push_back(SoundCaptureTestAccess::DuplicateWorker(capture));
        ASSERT_TRUE(workers.back());
        for (size_t w = 0; w + 1 < workers.size(); ++w)
            EXPECT_TRUE(HasEnded(workers[w])) << "worker " << w << " still runs after start " << i;
    }
    EXPECT_TRUE(capture.IsRunning());
    capture.RequestStop(CSoundCapture::StopNow);
    EXPECT_FALSE(capture.IsRunning());
    EXPECT_TRUE(HasEnded(workers.back()));
    EXPECT_TRUE(boxes.texts.empty());
}
