// The test camera's capture-device interfaces and its frame code.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_input_pin.h"
#include "FrameworkTestUtil.h"
#include "SelectObject.h"
#include "TestCamPainter.h"
#include "UniqueAny.h"
#include "stopping_graph.h"
#include "testcam_code.h"

namespace {

class TestCameraTest : public testing::Test {
protected:
    void SetUp() override {
        m_filter = CreateTestCamera();
        ASSERT_TRUE(m_filter);
        ASSERT_EQ(S_OK, m_filter->FindPin(L"1", &m_pin));
        ASSERT_EQ(S_OK, m_pin.As(&m_config));
        ASSERT_EQ(S_OK, m_pin.As(&m_props));
    }
    void TearDown() override {
        m_config.Reset();
        m_props.Reset();
        m_pin.Reset();
        EXPECT_EQ(0u, FinalRelease(m_filter));
    }

    SIZE CurrentSize() {
        MediaTypeHolder mt;
        EXPECT_EQ(S_OK, m_config->GetFormat(&mt.p));
        return SIZE{mt.Vih()->bmiHeader.biWidth, mt.Vih()->bmiHeader.biHeight};
    }

    win::ComScope m_com;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
    ComPtr<IAMStreamConfig> m_config;
    ComPtr<IKsPropertySet> m_props;
};

std::vector<unsigned char> Painted(int width, int height, std::uint32_t sequence) {
    std::vector<unsigned char> bits(static_cast<size_t>(TestCamStride(width)) * height, 0x55);
    TestCamPaintFrame(bits.data(), width, height, sequence);
    return bits;
}

// Scales a bottom-up 24-bit picture the way a capture program does: GDI's StretchDIBits.
std::vector<unsigned char> Scaled(const std::vector<unsigned char>& src, int sw, int sh, int dw, int dh,
                                  int mode) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = dw;
    bmi.bmiHeader.biHeight = dh;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    win::UniqueDc dc(CreateCompatibleDC(nullptr));
    win::UniqueBitmap bmp(CreateDIBSection(dc.get(), &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0));
    std::vector<unsigned char> out;
    if (dc && bmp) {
        win::SelectGuard select(dc.get(), bmp.get());
        SetStretchBltMode(dc.get(), mode);
        BITMAPINFO srcInfo = bmi;
        srcInfo.bmiHeader.biWidth = sw;
        srcInfo.bmiHeader.biHeight = sh;
        StretchDIBits(dc.get(), 0, 0, dw, dh, 0, 0, sw, sh, src.data(), &srcInfo, DIB_RGB_COLORS, SRCCOPY);
        GdiFlush();
        const unsigned char* p = static_cast<const unsigned char*>(pBits);
        out.assign(p, p + static_cast<size_t>(TestCamStride(dw)) * dh);
    }
    return out;
}

} // namespace

TEST_F(TestCameraTest, OffersItsSizesAsCapabilities) {
    int count = -1, recordSize = -1;
    ASSERT_EQ(S_OK, m_config->GetNumberOfCapabilities(&count, &recordSize));
    EXPECT_EQ(3, count);
    EXPECT_EQ(128, recordSize);
    EXPECT_EQ(E_POINTER, m_config->GetNumberOfCapabilities(nullptr, &recordSize));

    const SIZE sizes[] = {{640, 480}, {320, 240}, {160, 120}};
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(testing::Message() << "capability " << i);
        MediaTypeHolder mt;
        BYTE caps[128];
        std::memset(caps, 0xCD, sizeof(caps));
        ASSERT_EQ(S_OK, m_config->GetStreamCaps(i, &mt.p, caps));
        const VIDEO_STREAM_CONFIG_CAPS* scc = reinterpret_cast<const VIDEO_STREAM_CONFIG_CAPS*>(caps);
        EXPECT_TRUE(scc->guid == FORMAT_VideoInfo);
        EXPECT_EQ(sizes[i].cx, scc->InputSize.cx);
        EXPECT_EQ(sizes[i].cy, scc->InputSize.cy);
        EXPECT_EQ(sizes[i].cx, scc->MaxOutputSize.cx);
        EXPECT_EQ(sizes[i].cy, scc->MinOutputSize.cy);
        EXPECT_EQ(333333, scc->MinFrameInterval);
        EXPECT_EQ(10000000, scc->MaxFrameInterval);
        EXPECT_EQ(sizes[i].cx * sizes[i].cy * 24 * 30, scc->MaxBitsPerSecond);

        EXPECT_TRUE(mt.p->majortype == MEDIATYPE_Video);
        EXPECT_TRUE(mt.p->subtype == MEDIASUBTYPE_RGB24);
        EXPECT_TRUE(mt.p->formattype == FORMAT_VideoInfo);
        ASSERT_EQ(sizeof(VIDEOINFOHEADER), mt.p->cbFormat);
        EXPECT_EQ(sizes[i].cx, mt.Vih()->bmiHeader.biWidth);
        EXPECT_EQ(sizes[i].cy, mt.Vih()->bmiHeader.biHeight);
        EXPECT_EQ(24, mt.Vih()->bmiHeader.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(sizes[i].cx * sizes[i].cy * 3), mt.Vih()->bmiHeader.biSizeImage);
        EXPECT_EQ(333333, mt.Vih()->AvgTimePerFrame);
    }
    for (int bad : {-1, 3}) {
        AM_MEDIA_TYPE* pmt = reinterpret_cast<AM_MEDIA_TYPE*>(0x1234);
        BYTE caps[128];
        EXPECT_EQ(E_INVALIDARG, m_config->GetStreamCaps(bad, &pmt, caps)) << bad;
        EXPECT_EQ(nullptr, pmt);
    }
}

TEST_F(TestCameraTest, SetFormatTakesOnlyWhatTheCameraCanDeliver) {
    EXPECT_EQ(640, CurrentSize().cx) << "the largest size until told otherwise";

    MediaTypeHolder small(NewRgb24Type(320, 240, 666666));
    ASSERT_EQ(S_OK, m_config->SetFormat(small.p));
    MediaTypeHolder current;
    ASSERT_EQ(S_OK, m_config->GetFormat(&current.p));
    EXPECT_EQ(320, current.Vih()->bmiHeader.biWidth);
    EXPECT_EQ(666666, current.Vih()->AvgTimePerFrame) << "15 frames per second";

    MediaTypeHolder keepRate(NewRgb24Type(160, 120, 0));
    ASSERT_EQ(S_OK, m_config->SetFormat(keepRate.p));
    ASSERT_EQ(S_OK, m_config->GetFormat(&current.p));
    EXPECT_EQ(160, current.Vih()->bmiHeader.biWidth);
    EXPECT_EQ(666666, current.Vih()->AvgTimePerFrame) << "0 keeps the current rate";

    struct Case {
        const char* name;
        void (*spoil)(AM_MEDIA_TYPE*);
    } cases[] = {
        {"32-bit",
         [](AM_MEDIA_TYPE* p) {
             reinterpret_cast<VIDEOINFOHEADER*>(p->pbFormat)->bmiHeader.biBitCount = 32;
         }},
        {"400x300",
         [](AM_MEDIA_TYPE* p) { reinterpret_cast<VIDEOINFOHEADER*>(p->pbFormat)->bmiHeader.biWidth = 400; }},
        {"top-down",
         [](AM_MEDIA_TYPE* p) {
             reinterpret_cast<VIDEOINFOHEADER*>(p->pbFormat)->bmiHeader.biHeight = -480;
         }},
        {"60 frames per second",
         [](AM_MEDIA_TYPE* p) { reinterpret_cast<VIDEOINFOHEADER*>(p->pbFormat)->AvgTimePerFrame = 166666; }},
        {"wrong format type", [](AM_MEDIA_TYPE* p) { p->formattype = FORMAT_WaveFormatEx; }},
        {"short format block", [](AM_MEDIA_TYPE* p) { p->cbFormat = sizeof(VIDEOINFOHEADER) - 1; }},
        {"no format block", [](AM_MEDIA_TYPE* p) { p->cbFormat = 0; }},
        {"YUY2", [](AM_MEDIA_TYPE* p) { p->subtype = MEDIASUBTYPE_YUY2; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MediaTypeHolder bad(NewRgb24Type(640, 480));
        c.spoil(bad.p);
        EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, m_config->SetFormat(bad.p));
        EXPECT_EQ(160, CurrentSize().cx) << "nothing changed";
    }
    EXPECT_EQ(E_POINTER, m_config->SetFormat(nullptr));
    EXPECT_EQ(E_POINTER, m_config->GetFormat(nullptr));
}

// A connected camera that takes a new format asks its graph to reconnect it, without holding the
// filter lock that a graph thread stopping the filter needs meanwhile.
TEST_F(TestCameraTest, AReconnectionIsAskedWithoutTheFilterLockHeld) {
    CFakeInputPin peer;
    ASSERT_EQ(S_OK, m_pin->Connect(&peer, nullptr));
    CStoppingGraph graph(m_filter.Get());
    ASSERT_EQ(S_OK, m_filter->JoinFilterGraph(&graph, L"stopping graph"));

    MediaTypeHolder small(NewRgb24Type(320, 240, 666666));
    EXPECT_EQ(S_OK, m_config->SetFormat(small.p));
    graph.Join();
    EXPECT_EQ(1, graph.reconnects);
    EXPECT_EQ(m_pin.Get(), graph.reconnected);
    EXPECT_TRUE(graph.graphLockTaken) << "the filter held its lock while the graph needed it";
    EXPECT_EQ(S_OK, graph.stopResult);
    EXPECT_EQ(320, CurrentSize().cx);

    ASSERT_EQ(S_OK, m_filter->JoinFilterGraph(nullptr, nullptr));
    EXPECT_EQ(S_OK, m_pin->Disconnect());
    EXPECT_EQ(1, graph.refs.load());
    EXPECT_EQ(1, peer.refs.load());
}

TEST_F(TestCameraTest, PinCategoryIsCapture) {
    GUID category = {};
    DWORD returned = 0;
    ASSERT_EQ(S_OK, m_props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                 sizeof(category), &returned));
    EXPECT_TRUE(category == PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(16u, returned);

    BYTE small[15];
    returned = 0;
    EXPECT_EQ(E_UNEXPECTED, m_props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, small,
                                         sizeof(small), &returned));
    EXPECT_EQ(16u, returned) << "the size is reported even when the buffer is short";
    returned = 0;
    EXPECT_EQ(S_OK,
              m_props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(16u, returned);
    EXPECT_EQ(E_POINTER,
              m_props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED, m_props->Get(PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                                   &category, 16, &returned));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, m_props->Get(AMPROPSETID_Pin, 1, nullptr, 0, &category, 16, &returned));

    DWORD support = 0;
    EXPECT_EQ(S_OK, m_props->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support));
    EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET), support);
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, m_props->QuerySupported(AMPROPSETID_Pin, 1, &support));
    EXPECT_EQ(E_NOTIMPL, m_props->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16));
}

TEST(TestCamCodeTest, SequenceNumbersSurvivePaintingAndScaling) {
    win::ComScope com;
    const std::uint32_t sequences[] = {0, 1, 2, 0x5A5A5A, 1234567, 0xFFFFFF};
    const SIZE sizes[] = {{640, 480}, {320, 240}, {160, 120}};
    for (const SIZE& size : sizes) {
        for (std::uint32_t seq : sequences) {
            SCOPED_TRACE(testing::Message() << size.cx << "x" << size.cy << " frame " << seq);
            const auto bits = Painted(size.cx, size.cy, seq);
            std::uint32_t decoded = 0xDEADBEEF;
            ASSERT_TRUE(TestCamDecodeSequence(bits.data(), size.cx, size.cy, &decoded));
            EXPECT_EQ(seq, decoded);
        }
    }

    // Scaled the way a frame store or a client scales: down, up, and to odd sizes.
    const SIZE targets[] = {{160, 120}, {96, 72}, {1280, 960}, {333, 250}, {64, 48}};
    for (int mode : {COLORONCOLOR, HALFTONE}) {
        for (const SIZE& t : targets) {
            SCOPED_TRACE(testing::Message() << "640x480 to " << t.cx << "x" << t.cy << " mode " << mode);
            const auto src = Painted(640, 480, 0xABCDE);
            const auto dst = Scaled(src, 640, 480, t.cx, t.cy, mode);
            ASSERT_FALSE(dst.empty());
            std::uint32_t decoded = 0;
            ASSERT_TRUE(TestCamDecodeSequence(dst.data(), t.cx, t.cy, &decoded));
            EXPECT_EQ(0xABCDEu, decoded);
        }
    }
}

TEST(TestCamCodeTest, PicturesWithoutAValidCodeAreRejected) {
    std::vector<unsigned char> black(static_cast<size_t>(TestCamStride(320)) * 240, 0);
    std::uint32_t decoded = 77;
    EXPECT_FALSE(TestCamDecodeSequence(black.data(), 320, 240, &decoded));
    EXPECT_EQ(77u, decoded) << "left alone on failure";

    // One bit flipped: the parity no longer matches.
    auto bits = Painted(320, 240, 1000);
    const int cell = TESTCAM_FIRST_BIT_CELL + 5;
    for (int y = 0; y < 240 / TESTCAM_BAND_DIVISOR; ++y) {
        unsigned char* row = bits.data() + static_cast<size_t>(239 - y) * TestCamStride(320);
        for (int x = cell * 10; x < (cell + 1) * 10; ++x)
            row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] ^= 0xFF;
    }
    EXPECT_FALSE(TestCamDecodeSequence(bits.data(), 320, 240, &decoded));

    // Read upside down (as a top-down picture) the band is at the wrong end.
    const auto upright = Painted(320, 240, 1000);
    EXPECT_FALSE(TestCamDecodeSequence(upright.data(), 320, -240, &decoded));
    EXPECT_FALSE(TestCamDecodeSequence(nullptr, 320, 240, &decoded));
    EXPECT_FALSE(TestCamDecodeSequence(upright.data(), 16, 240, &decoded)) << "too narrow to hold the cells";
}
