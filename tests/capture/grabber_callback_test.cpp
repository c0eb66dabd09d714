// The grabber callback and the frame handoff: every frame a send delivers is read only while its
// buffer is still lent to the window thread, whether the send returned in time or not.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FrameSink.h"
#include "GrabberCallback.h"
#include "TestCamPainter.h"

namespace {

constexpr int kWidth = 160, kHeight = 120;
const size_t kFrameBytes = static_cast<size_t>(TestCamStride(kWidth)) * kHeight;

// A test camera frame in memory of its own, which the test can take away for real.
class PaintedFrame {
public:
    explicit PaintedFrame(std::uint32_t sequence)
        : m_p(static_cast<BYTE*>(
              VirtualAlloc(nullptr, kFrameBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {
        if (m_p)
            TestCamPaintFrame(m_p, kWidth, kHeight, sequence);
    }
    ~PaintedFrame() { Free(); }
    PaintedFrame(const PaintedFrame&) = delete;
    PaintedFrame& operator=(const PaintedFrame&) = delete;

    BYTE* Bits() const { return m_p; }
    // The pages go back to the system: any later read of them faults.
    void Free() {
        if (m_p)
            VirtualFree(m_p, 0, MEM_RELEASE);
        m_p = nullptr;
    }

private:
    BYTE* m_p;
};

class GrabberCallbackTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sink.Window()) << "the frame sink window was not made";
        m_sink.Attach(&m_handoff, kWidth, kHeight);
    }

    CFrameHandoff m_handoff;
    CGrabberCallback m_callback{m_handoff};
    CFrameSink m_sink;
};

} // namespace

TEST_F(GrabberCallbackTest, AnswersItsInterfacesWithoutCounting) {
    void* pv = nullptr;
    ASSERT_EQ(S_OK, m_callback.QueryInterface(IID_ISampleGrabberCB, &pv));
    EXPECT_EQ(static_cast<ISampleGrabberCB*>(&m_callback), pv);
    pv = nullptr;
    ASSERT_EQ(S_OK, m_callback.QueryInterface(IID_IUnknown, &pv));
    EXPECT_EQ(static_cast<ISampleGrabberCB*>(&m_callback), pv);
    pv = &m_callback;
    EXPECT_EQ(E_NOINTERFACE, m_callback.QueryInterface(IID_IPersist, &pv));
    EXPECT_EQ(nullptr, pv);
    EXPECT_EQ(E_POINTER, m_callback.QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(2u, m_callback.AddRef());
    EXPECT_EQ(1u, m_callback.Release());
    EXPECT_EQ(S_OK, m_callback.SampleCB(0.0, nullptr));
}

TEST_F(GrabberCallbackTest, WithoutAWindowNothingIsSent) {
    PaintedFrame frame(1);
    EXPECT_EQ(S_OK, m_callback.BufferCB(0.0, frame.Bits(), static_cast<long>(kFrameBytes)));
    m_sink.Flush();
    EXPECT_EQ(0, m_callback.SentCount());
    EXPECT_EQ(0u, m_sink.Count());
}

TEST_F(GrabberCallbackTest, ADeliveredFrameIsClaimedOnceAndOnlyWhileOnOffer) {
    m_callback.SetWindow(m_sink.Window());
    PaintedFrame frame(7);
    ASSERT_EQ(S_OK, m_callback.BufferCB(0.0, frame.Bits(), static_cast<long>(kFrameBytes)));
    EXPECT_EQ(1, m_callback.SentCount());
    EXPECT_EQ(0, m_callback.TimedOutCount());

    // The same message again after the callback returned, a foreign buffer and a wrong length:
    // none of them is on offer.
    std::vector<BYTE> foreign(kFrameBytes);
    struct Late {
        const char* what;
        const void* bits;
        size_t length;
    };
    const Late late[] = {{"the same frame again", frame.Bits(), kFrameBytes},
                         {"a foreign buffer", foreign.data(), kFrameBytes},
                         {"no buffer", nullptr, 0}};
    for (const Late& l : late)
        SendMessageW(m_sink.Window(), WM_CAPTURE_FRAME, reinterpret_cast<WPARAM>(l.bits),
                     static_cast<LPARAM>(l.length));

    const std::vector<CFrameSink::Record> records = m_sink.Records();
    ASSERT_EQ(4u, records.size());
    EXPECT_TRUE(records[0].claimed);
    EXPECT_TRUE(records[0].decoded);
    EXPECT_EQ(7u, records[0].sequence);
    EXPECT_EQ(kFrameBytes, records[0].length);
    for (size_t i = 1; i < records.size(); ++i) {
        SCOPED_TRACE(late[i - 1].what);
        EXPECT_FALSE(records[i].claimed);
    }
    EXPECT_EQ(1, m_handoff.ClaimedCount());
    EXPECT_EQ(3, m_handoff.RefusedCount());
}

TEST(FrameHandoffTest, AClaimNeedsTheOfferedBufferAndLengthAndComesOncePerOffer) {
    CFrameHandoff handoff;
    BYTE buffer[64] = {};
    EXPECT_FALSE(handoff.Claim(buffer, sizeof buffer)) << "nothing on offer";
    handoff.Offer(buffer, sizeof buffer);
    EXPECT_FALSE(handoff.Claim(buffer, sizeof buffer - 1)) << "another length";
    EXPECT_FALSE(handoff.Claim(buffer + 1, sizeof buffer)) << "another buffer";
    {
        const CFrameHandoff::CClaim claim = handoff.Claim(buffer, sizeof buffer);
        ASSERT_TRUE(claim);
        EXPECT_EQ(buffer, claim.Bits());
        EXPECT_EQ(sizeof buffer, claim.Length());
        EXPECT_FALSE(handoff.Claim(buffer, sizeof buffer)) << "claimed already";
    }
    EXPECT_FALSE(handoff.Claim(buffer, sizeof buffer)) << "taken already";
    handoff.Withdraw();
    EXPECT_FALSE(handoff.Claim(buffer, sizeof buffer)) << "withdrawn";
    handoff.Offer(buffer, sizeof buffer);
    EXPECT_TRUE(handoff.Claim(buffer, sizeof buffer)) << "a new offer of the same buffer";
    handoff.Withdraw();
    EXPECT_EQ(2, handoff.ClaimedCount());
    EXPECT_EQ(6, handoff.RefusedCount());
}

TEST_F(GrabberCallbackTest, AFrameWhoseSendTimedOutIsNeverReadAfterBufferCBReturned) {
    // The window thread is busy when the frame comes; the send gives up after 50 ms and the
    // buffer goes away. Wine then drops the message; Windows leaves it in the window's queue for
    // the busy spell to end. Either way nothing may read the buffer any more: the message is
    // replayed below as Windows would deliver it.
    m_callback.SetWindow(m_sink.Window());
    PaintedFrame frame(3);
    m_sink.Busy(400);
    Sleep(50); // the sink thread is inside its busy spell
    const DWORD start = GetTickCount();
    ASSERT_EQ(S_OK, m_callback.BufferCB(0.0, frame.Bits(), static_cast<long>(kFrameBytes)));
    const DWORD took = GetTickCount() - start;
    EXPECT_EQ(1, m_callback.TimedOutCount());
    EXPECT_LT(took, 350u) << "BufferCB waited for the busy window instead of giving up";
    BYTE* const late = frame.Bits();
    frame.Free(); // a read of the late message's wParam now faults and ends the test run
    SendMessageW(m_sink.Window(), WM_CAPTURE_FRAME, reinterpret_cast<WPARAM>(late),
                 static_cast<LPARAM>(kFrameBytes));

    const std::vector<CFrameSink::Record> records = m_sink.Records();
    ASSERT_GE(records.size(), 1u);
    for (const CFrameSink::Record& r : records)
        EXPECT_FALSE(r.claimed);
}

TEST_F(GrabberCallbackTest, AClaimHeldPastTheTimeOutKeepsTheBufferUntilItIsLetGo) {
    // The handler claims in time but reads for 150 ms; the send gives up at 50 ms, and the
    // callback must not hand the buffer back (which this test then overwrites) before the claim
    // ends.
    m_callback.SetWindow(m_sink.Window());
    m_sink.SetHoldMs(150);
    PaintedFrame frame(5);
    const DWORD start = GetTickCount();
    ASSERT_EQ(S_OK, m_callback.BufferCB(0.0, frame.Bits(), static_cast<long>(kFrameBytes)));
    const DWORD took = GetTickCount() - start;
    std::memset(frame.Bits(), 0x80, kFrameBytes); // what the next sample would do to the buffer
    EXPECT_EQ(1, m_callback.TimedOutCount());
    EXPECT_GE(took, 140u);

    m_sink.Flush();
    const std::vector<CFrameSink::Record> records = m_sink.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_TRUE(records[0].claimed);
    EXPECT_TRUE(records[0].decoded);
    EXPECT_TRUE(records[0].intact) << "the buffer changed while the handler still read it";
}
