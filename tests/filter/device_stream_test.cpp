// The filter streaming in-process: the placeholder a client graph receives when no capture program
// is running, and copies that stay inside the sample and the channel whatever size the allocator
// grants.
#include <windows.h>

#include <gtest/gtest.h>

#include "device_test_util.h"
#include "fake_input_pin.h"
#include "granting_allocator.h"

namespace {

class DeviceStreamTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        // The filter must be the one to create the channel, with a zero header and no owner.
        ASSERT_FALSE(ChannelExists()) << "a frame channel is left over from another program";
        m_settings.Clear();
    }

    win::ComScope m_com;
    CSavedFilterSettings m_settings;
};

} // namespace

TEST_F(DeviceStreamTest, WithoutCaptureProgramAClientGraphReceivesThePlaceholder) {
    CFrameRecorder frames;
    ComPtr<IBaseFilter> device = CreateDevice();
    ASSERT_TRUE(device);
    {
        CClientGraph client;
        client.Build(device.Get(), &frames);
        ASSERT_FALSE(HasFatalFailure());
        MediaTypeHolder type;
        ASSERT_EQ(S_OK, client.ConnectedType(
                            type.p = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)))));
        EXPECT_TRUE(type.p->subtype == MEDIASUBTYPE_RGB24);
        ASSERT_GE(type.p->cbFormat, sizeof(VIDEOINFOHEADER));
        EXPECT_EQ(160, type.Vih()->bmiHeader.biWidth) << "the default \"SelectPixel\" 0";
        EXPECT_EQ(120, type.Vih()->bmiHeader.biHeight);
        EXPECT_EQ(24, type.Vih()->bmiHeader.biBitCount);

        const HRESULT hr = client.Run();
        ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
        EXPECT_TRUE(frames.WaitFor(5, 5000)) << "frames flow";
        client.Stop();
    }
    const auto got = frames.Frames();
    ASSERT_FALSE(got.empty());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        ASSERT_EQ(160 * 120 * 3, got[i].length);
        const PlaceholderLook look = LookAtPlaceholder(got[i].bytes.data(), got[i].bytes.size(), 160, 120);
        EXPECT_TRUE(look.cornersBlack);
        EXPECT_GE(look.whiteNearCentre, 100) << "white \"Zarvex\" across the middle";
    }
    EXPECT_EQ(0u, FinalRelease(device));
}

namespace {

// What one received sample showed: its size, what was written, and whether the marker behind the
// frame survived.
struct SampleCheck {
    long size = 0;
    long actual = 0;
    bool markerIntact = true;
    bool placeholder = false;
};

} // namespace

// A peer's allocator may grant more than asked, far more than the channel holds: the copy must stay
// within the frame (and so within the channel's pixel area), and say how much it wrote. One that
// grants less than a frame is declined: the pin connects with an allocator of its own instead.
TEST_F(DeviceStreamTest, CopiesStayWithinTheFrameWhateverTheAllocatorGrants) {
    const long kFrame = 160 * 120 * 3;
    struct Case {
        const char* name;
        long grant;
        long bufferSize; // what the samples turn out to hold
    } cases[] = {
        {"exactly a frame", kFrame, kFrame},
        {"twice the channel's pixel area", 2 * static_cast<long>(kChannelPixelBytes),
         2 * static_cast<long>(kChannelPixelBytes)},
        {"one byte short", kFrame - 1, kFrame},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CGrantingAllocator allocator(c.grant);
        ASSERT_EQ(S_OK, allocator.Created());
        CFakeInputPin peer;
        peer.allocator = &allocator;
        std::mutex mutex;
        std::vector<SampleCheck> checks;
        peer.onReceive = [&](IMediaSample* pSample) {
            SampleCheck check;
            BYTE* p = nullptr;
            check.size = pSample->GetSize();
            check.actual = pSample->GetActualDataLength();
            if (SUCCEEDED(pSample->GetPointer(&p)) && p) {
                for (long i = kFrame; i < check.size; ++i)
                    if (p[i] != CGrantingAllocator::kMarker) {
                        check.markerIntact = false;
                        break;
                    }
                check.placeholder = LookAtPlaceholder(p, static_cast<size_t>(check.size), 160, 120).Ok();
            }
            std::lock_guard<std::mutex> lock(mutex);
            checks.push_back(check);
        };

        CTesk_Stream* pStream = nullptr;
        ComPtr<IBaseFilter> device = CreateDevice(&pStream);
        ASSERT_TRUE(device && pStream);
        ASSERT_EQ(S_OK, pStream->Connect(&peer, nullptr));
        {
            ASSERT_EQ(S_OK, device->Pause());
            EXPECT_TRUE(peer.WaitForReceives(4, 5000));
            EXPECT_EQ(S_OK, device->Stop());
            EXPECT_EQ(S_OK, pStream->Disconnect());
            std::lock_guard<std::mutex> lock(mutex);
            ASSERT_FALSE(checks.empty());
            for (const SampleCheck& check : checks) {
                EXPECT_EQ(c.bufferSize, check.size);
                EXPECT_EQ(kFrame, check.actual) << "the frame's bytes, not the buffer's";
                EXPECT_TRUE(check.markerIntact) << "nothing written behind the frame";
                EXPECT_TRUE(check.placeholder) << "every sample shows the frame, the first and the repeats";
            }
        }
        EXPECT_EQ(0u, FinalRelease(device));
        peer.onReceive = nullptr;
        EXPECT_EQ(1, peer.refs.load());
        EXPECT_EQ(1, allocator.refs.load()) << "the filter let go of the allocator";
    }
}
