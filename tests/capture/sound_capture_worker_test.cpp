// The sound capture worker against a capture device in memory (FakeSoundCapture.h): what each
// wake-up copies, where it puts it, and what it leaves alone when it copies nothing; and the
// set-up failures Wine never produces.
#include <windows.h>

#include <mmsystem.h>

#include <dsound.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeSoundCapture.h"
#include "SoundCapture.h"
#include "SoundCaptureBuffer.h"
#include "SoundCaptureTestUtil.h"
#include "TestFrames.h"
#include "sound_capture_access.h"

using soundtest::CFakeCapture;
using soundtest::CFakeCaptureBuffer;
using testing_support::SoundCaptureTestAccess;

namespace {

constexpr DWORD kBlock = 22048;
constexpr DWORD kBlocks = 8; // pre 1 + post 0
constexpr DWORD kSize = kBlock * kBlocks;

// A capture device in memory and a capture set up and started on it.
class SoundCaptureWorkerTest : public testing::Test {
protected:
    void SetUp() override {
        soundtest::g_pNextCapture = m_device;
        ASSERT_TRUE(m_capture->Setup(soundtest::DefaultDevice(), 1, 0));
        m_buffer = m_device->m_pLastBuffer;
        ASSERT_TRUE(m_buffer);
        ASSERT_EQ(kSize, m_buffer->m_bytes.size());
        Paint(0, kSize, 1);
        ASSERT_TRUE(m_capture->Start());
        for (int i = 0; i < 500 && !m_buffer->m_bCapturing; ++i)
            Sleep(10);
        ASSERT_TRUE(m_buffer->m_bCapturing) << "the worker did not start the buffer";
        EXPECT_EQ(static_cast<DWORD>(DSCBSTART_LOOPING), m_buffer->m_dwStartFlags.load());
    }

    void TearDown() override {
        soundtest::g_pNextCapture = nullptr;
        if (m_buffer)
            m_buffer->AddRef(); // kept past the capture, to see that it was stopped and released
        m_capture.reset();
        if (m_buffer) {
            EXPECT_FALSE(m_buffer->m_bCapturing) << "the buffer still runs after the capture went";
        }
        EXPECT_EQ(0u, m_device->Release()) << "the capture object was not released";
        if (m_buffer) {
            EXPECT_EQ(0u, m_buffer->Release()) << "the capture buffer was not released";
        }
        EXPECT_TRUE(m_boxes.texts.empty());
    }

    // Fills [from, to) of the device's buffer with a pattern that differs by lap and by offset.
    void Paint(DWORD from, DWORD to, int lap) {
        for (DWORD i = from; i < to; ++i)
            m_buffer->m_bytes[i] = static_cast<BYTE>(i * 7 + i / 251 + lap * 101);
    }

    // Moves the capture position to readPos and wakes the worker as a notification does; returns
    // the write position once the worker has handled that wake-up.
    DWORD Wake(DWORD readPos) {
        const int queries = m_buffer->m_nPositionQueries;
        m_buffer->m_dwReadPos = readPos;
        EXPECT_TRUE(SetEvent(m_buffer->Event()));
        for (int i = 0; i < 500 && m_buffer->m_nPositionQueries == queries; ++i)
            Sleep(10);
        EXPECT_NE(queries, m_buffer->m_nPositionQueries.load()) << "the worker did not wake up";
        // The worker queries the position under the capture's lock, which GetWritePos takes too:
        // the answer is the position after this wake-up's copy.
        return m_capture->GetWritePos();
    }

    bool RingMatches(DWORD from, DWORD to) const {
        return std::memcmp(m_capture->GetRing() + from, m_buffer->m_bytes.data() + from, to - from) == 0;
    }

    MessageBoxRecorder m_boxes;
    CFakeCapture* m_device = new CFakeCapture;
    std::unique_ptr<CSoundCapture> m_capture = std::make_unique<CSoundCapture>(&soundtest::FakeCaptureCreate);
    CFakeCaptureBuffer* m_buffer = nullptr;
};

} // namespace

TEST_F(SoundCaptureWorkerTest, CopiesWholeBlocksToTheirOffsetsAndRoundTheEnd) {
    struct Step {
        const char* name;
        DWORD readPos;
        DWORD writePos;
    };
    const Step steps[] = {
        {"one block", kBlock, kBlock},
        {"a block and a bit: the bit waits", kBlock + 100, kBlock},
        {"two blocks at once", 3 * kBlock + 5, 3 * kBlock},
        {"up to the last block", 7 * kBlock, 7 * kBlock},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.writePos, Wake(s.readPos));
        EXPECT_TRUE(RingMatches(0, s.writePos));
    }

    // The next lap's sound in the last block and the first, taken in one wake-up that runs round
    // the end of the buffer: the ring must get both parts at their own offsets.
    Paint(7 * kBlock, kSize, 2);
    Paint(0, kBlock, 2);
    EXPECT_EQ(kBlock, Wake(kBlock + 40));
    EXPECT_TRUE(RingMatches(0, kSize));
}

TEST_F(SoundCaptureWorkerTest, AWakeUpThatCopiesNothingKeepsTheWritePosition) {
    // A block taken right after such a wake-up starts at the write position. Were it set back to
    // 0, the block would start in the middle of the newest sound.
    struct Case {
        const char* name;
        HRESULT hrPosition;
        HRESULT hrLock;
        DWORD advance; // beyond the position reached so far
    };
    const Case cases[] = {
        {"less than one block ready", DS_OK, DS_OK, kBlock - 4},
        {"nothing new at all", DS_OK, DS_OK, 0},
        {"the position query fails", DSERR_NODRIVER, DS_OK, kBlock},
        {"the lock fails", DS_OK, DSERR_INVALIDPARAM, kBlock},
    };
    DWORD reached = 2 * kBlock;
    ASSERT_EQ(reached, Wake(reached));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_buffer->m_hrPosition = c.hrPosition;
        m_buffer->m_hrLock = c.hrLock;
        EXPECT_EQ(reached, Wake(reached + c.advance));
        // Once the device answers again, the next wake-up takes what has piled up.
        m_buffer->m_hrPosition = DS_OK;
        m_buffer->m_hrLock = DS_OK;
        reached += kBlock;
        EXPECT_EQ(reached, Wake(reached));
        EXPECT_TRUE(RingMatches(0, reached));
    }

    // A position the device should never give (past the buffer's end) is not trusted either.
    EXPECT_EQ(reached, Wake(kSize + kBlock));
}

TEST_F(SoundCaptureWorkerTest, StartingAgainKeepsTheNewestByteAtTheWritePosition) {
    // The clip maker starts the capture again after every block. A press that comes before the new
    // worker's first copy makes the next block from the ring as it stands: it must still start at
    // the oldest byte, not at offset 0.
    ASSERT_EQ(3 * kBlock, Wake(3 * kBlock));
    m_capture->RequestStop(CSoundCapture::StopNow);
    ASSERT_FALSE(m_capture->IsRunning());
    ASSERT_TRUE(m_capture->Start());
    EXPECT_EQ(3 * kBlock, m_capture->GetWritePos());
    EXPECT_EQ(5 * kBlock, Wake(5 * kBlock));
}

TEST(SoundCaptureSetupFaultTest, DeviceFailuresShowTheirMessageAndTheWorkerStillStops) {
    struct Case {
        const char* name;
        bool device;
        HRESULT hrCreateBuffer;
        bool withNotify;
        HRESULT hrNotify;
        const wchar_t* message;
    };
    const Case cases[] = {
        {"no capture object", false, DS_OK, true, DS_OK, L"Error1!"},
        {"no capture buffer", true, DSERR_OUTOFMEMORY, true, DS_OK, L"Error2!"},
        {"no notify interface", true, DS_OK, false, DS_OK, L"Error3!"},
        {"notification positions refused", true, DS_OK, true, DSERR_INVALIDPARAM, L"Error4!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBoxRecorder boxes;
        CFakeCapture* device = new CFakeCapture;
        device->m_hrCreateBuffer = c.hrCreateBuffer;
        device->m_bBuffersWithNotify = c.withNotify;
        device->m_hrBufferNotify = c.hrNotify;
        soundtest::g_pNextCapture = c.device ? device : nullptr;
        {
            CSoundCapture capture(&soundtest::FakeCaptureCreate);
            EXPECT_FALSE(capture.Setup(soundtest::DefaultDevice(), 5, 5));
            ASSERT_EQ(1u, boxes.texts.size());
            EXPECT_EQ(c.message, boxes.texts[0]);
            EXPECT_FALSE(capture.GetRing());
            EXPECT_EQ(0u, capture.GetRingSize());

            // Started anyway (the clip maker does): nothing runs the buffer, no wake-up ever comes,
            // and still both stop requests end the worker.
            ASSERT_TRUE(capture.Start());
            Sleep(100);
            if (device->m_pLastBuffer) {
                EXPECT_FALSE(device->m_pLastBuffer->m_bCapturing) << "a buffer without its ring was started";
            }
            const double took = soundtest::BoundedCall("StopNow after a failed set-up", 15000,
                                                       [&] { capture.RequestStop(CSoundCapture::StopNow); });
            EXPECT_LT(took, 2000.0);
            EXPECT_FALSE(capture.IsRunning());
        }
        soundtest::g_pNextCapture = nullptr;
        EXPECT_EQ(0u, device->Release()) << "the capture object was not released";
    }
}
