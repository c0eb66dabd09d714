// IAMStreamConfig::SetFormat: the types it takes and what they change (frame time, current format,
// the channel's header), the unusable ones it refuses without changing anything, and the
// reconnection it asks of a graph.
#include <windows.h>

#include <gtest/gtest.h>

#include "device_test_util.h"
#include "fake_input_pin.h"
#include "stopping_graph.h"

namespace {

class DeviceFormatTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        ASSERT_FALSE(ChannelExists()) << "a frame channel is left over from another program";
        m_settings.Clear();
        m_device = CreateDevice(&m_pStream);
        ASSERT_TRUE(m_device && m_pStream);
        ASSERT_EQ(S_OK, m_device.As(&m_config));
        ASSERT_TRUE(m_probe.Open()) << "the filter created the channel";
    }
    void TearDown() override {
        m_config.Reset();
        if (m_device) {
            EXPECT_EQ(0u, FinalRelease(m_device));
        }
    }
    SIZE CurrentSize() {
        MediaTypeHolder format;
        EXPECT_EQ(S_OK, m_config->GetFormat(&format.p));
        return format.p ? SIZE{format.Vih()->bmiHeader.biWidth, format.Vih()->bmiHeader.biHeight} : SIZE{};
    }

    win::ComScope m_com;
    CSavedFilterSettings m_settings;
    ComPtr<IBaseFilter> m_device;
    CTesk_Stream* m_pStream = nullptr;
    ComPtr<IAMStreamConfig> m_config;
    CChannelProbe m_probe;
};

} // namespace

TEST_F(DeviceFormatTest, AUsableFormatSetsFrameTimeFormatAndTheChannelHeader) {
    // The placeholder painted at construction is not what this test looks at.
    ASSERT_TRUE(m_probe.Modify([](SharedFrameHeader& h) { h.dwFlags = 0; }));
    MediaTypeHolder format(NewRgb24Type(640, 480, 666666));
    ASSERT_EQ(S_OK, m_config->SetFormat(format.p));
    EXPECT_EQ(666666, m_pStream->FrameTime());
    EXPECT_EQ(640, CurrentSize().cx);
    EXPECT_EQ(480, CurrentSize().cy);
    CMediaType current;
    ASSERT_EQ(S_OK, m_pStream->GetMediaType(&current));
    EXPECT_TRUE(current == CMediaType(*format.p)) << "the client's type is the current one";

    std::unique_ptr<SharedFrameHeader> header = m_probe.Snapshot();
    ASSERT_TRUE(header);
    EXPECT_EQ(666666u, header->dwFrameInterval);
    EXPECT_EQ(0, std::memcmp(&header->bmiHeader, &format.Vih()->bmiHeader, sizeof(BITMAPINFOHEADER)));
    EXPECT_EQ(kFormatFromSetFormat | kFrameReady, header->dwFlags)
        << "announced, and the placeholder painted at the new size for want of an owner";
    EXPECT_TRUE(LookAtPlaceholder(header->pixels, kChannelPixelBytes, 640, 480).Ok());
}

TEST_F(DeviceFormatTest, FrameTimeIsClampedButTheHeaderGetsTheClientsOwnInterval) {
    const struct {
        REFERENCE_TIME asked;
        REFERENCE_TIME frameTime;
        uint32_t interval;
    } cases[] = {
        {-5, 0, 0xFFFFFFFBu},
        {0, 0, 0},
        {20000000, 10000000, 20000000u},
        {0x100000005LL, 10000000, 5u},
    };
    int width = 320; // alternate sizes so that every call is a new format and announced
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.asked));
        width = width == 320 ? 512 : 320;
        MediaTypeHolder format(NewRgb24Type(width, 240 + (width == 512) * 144, c.asked));
        ASSERT_EQ(S_OK, m_config->SetFormat(format.p));
        EXPECT_EQ(c.frameTime, m_pStream->FrameTime());
        std::unique_ptr<SharedFrameHeader> header = m_probe.Snapshot();
        ASSERT_TRUE(header);
        EXPECT_EQ(c.interval, header->dwFrameInterval);
    }
}

TEST_F(DeviceFormatTest, UnusableFormatsAreRefusedAndChangeNothing) {
    ASSERT_TRUE(m_probe.Modify([](SharedFrameHeader& h) { h.dwFlags = 0; }));
    std::unique_ptr<SharedFrameHeader> before = m_probe.Snapshot();
    ASSERT_TRUE(before);

    struct Case {
        const char* name;
        void (*spoil)(AM_MEDIA_TYPE& mt);
    } cases[] = {
        {"32-bit",
         [](AM_MEDIA_TYPE& mt) {
             reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biBitCount = 32;
         }},
        {"400 x 300",
         [](AM_MEDIA_TYPE& mt) {
             VIDEOINFOHEADER* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
             vih->bmiHeader.biWidth = 400;
             vih->bmiHeader.biHeight = 300;
         }},
        {"top-down 640 x -480",
         [](AM_MEDIA_TYPE& mt) {
             reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biHeight = -480;
         }},
        {"compressed",
         [](AM_MEDIA_TYPE& mt) {
             reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biCompression = BI_RLE8;
         }},
        {"not FORMAT_VideoInfo", [](AM_MEDIA_TYPE& mt) { mt.formattype = FORMAT_VideoInfo2; }},
        {"no format block",
         [](AM_MEDIA_TYPE& mt) {
             CoTaskMemFree(mt.pbFormat);
             mt.pbFormat = nullptr;
         }},
        {"no format block but a length",
         [](AM_MEDIA_TYPE& mt) {
             CoTaskMemFree(mt.pbFormat);
             mt.pbFormat = nullptr;
             mt.cbFormat = sizeof(VIDEOINFOHEADER);
         }},
        {"a block shorter than a VIDEOINFOHEADER",
         [](AM_MEDIA_TYPE& mt) {
             // Only 40 bytes exist: the bitmap header the filter wants lies beyond them.
             BYTE* pShort = static_cast<BYTE*>(CoTaskMemAlloc(40));
             std::memcpy(pShort, mt.pbFormat, 40);
             CoTaskMemFree(mt.pbFormat);
             mt.pbFormat = pShort;
             mt.cbFormat = 40;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MediaTypeHolder format(NewRgb24Type(640, 480, 666666));
        c.spoil(*format.p);
        EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, m_config->SetFormat(format.p));
        if (format.p->cbFormat != 0 && !format.p->pbFormat)
            format.p->cbFormat = 0; // the holder frees only what exists
        EXPECT_EQ(333333, m_pStream->FrameTime());
        EXPECT_EQ(160, CurrentSize().cx);
        std::unique_ptr<SharedFrameHeader> after = m_probe.Snapshot();
        ASSERT_TRUE(after);
        EXPECT_EQ(0, std::memcmp(before.get(), after.get(), 72)) << "header untouched";
        EXPECT_EQ(0, std::memcmp(before->pixels, after->pixels, 57600)) << "no placeholder repainted";
    }
    EXPECT_EQ(E_POINTER, m_config->SetFormat(nullptr));
}

// Setting the current format again announces nothing but still takes the frame time and repaints.
TEST_F(DeviceFormatTest, TheCurrentFormatAgainIsNotAnnounced) {
    MediaTypeHolder format(NewRgb24Type(160, 120, 333333));
    format.p->lSampleSize = 57600;
    ASSERT_EQ(S_OK, m_config->SetFormat(format.p));
    ASSERT_TRUE(m_probe.Modify([](SharedFrameHeader& h) { h.dwFlags = 0; }));
    ASSERT_EQ(S_OK, m_config->SetFormat(format.p));
    std::unique_ptr<SharedFrameHeader> header = m_probe.Snapshot();
    ASSERT_TRUE(header);
    EXPECT_EQ(kFrameReady, header->dwFlags) << "placeholder only";
}

// SetFormat on a connected pin asks the graph to reconnect it. The graph may meanwhile stop the
// filter from another thread while holding its own lock, so the filter must not hold its lock
// while it asks.
TEST_F(DeviceFormatTest, AReconnectionIsAskedWithoutTheFilterLockHeld) {
    CFakeInputPin peer;
    ASSERT_EQ(S_OK, m_pStream->Connect(&peer, nullptr));
    CStoppingGraph graph(m_device.Get());
    ASSERT_EQ(S_OK, m_device->JoinFilterGraph(&graph, L"stopping graph"));

    MediaTypeHolder format(NewRgb24Type(640, 480, 666666));
    EXPECT_EQ(S_OK, m_config->SetFormat(format.p));
    graph.Join();
    EXPECT_EQ(1, graph.reconnects);
    EXPECT_EQ(static_cast<IPin*>(m_pStream), graph.reconnected);
    EXPECT_TRUE(graph.graphLockTaken) << "the filter held its lock while the graph needed it";
    EXPECT_EQ(S_OK, graph.stopResult);
    EXPECT_EQ(640, CurrentSize().cx) << "the new format stands";

    // A format the pin already has asks for nothing.
    EXPECT_EQ(S_OK, m_config->SetFormat(format.p));
    graph.Join();
    EXPECT_EQ(1, graph.reconnects);

    ASSERT_EQ(S_OK, m_device->JoinFilterGraph(nullptr, nullptr));
    EXPECT_EQ(S_OK, m_pStream->Disconnect());
    EXPECT_EQ(1, graph.refs.load());
    EXPECT_EQ(1, peer.refs.load());
}
