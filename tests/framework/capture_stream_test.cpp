// What CCaptureStream does for every capture pin built on it: GetStreamCaps checks its arguments
// before asking the pin, hands out task memory only for a capability that was made, and writes
// exactly the record size GetNumberOfCapabilities reported, whatever that size is. And the RGB24
// video type both capture pins describe their frames with.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "CaptureStream.h"
#include "FrameworkTestUtil.h"
#include "Source.h"
#include "VideoType.h"

namespace {

const CLSID kCapsClsid = {0x5c0a1d2e, 0x2222, 0x4333, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x77}};

// A capture pin whose capability list the test sets: how many, the record size it reports, and one
// index whose capability fails.
COM_CLASSES_BEGIN
class CListedCapsStream : public CCaptureStream {
public:
    CListedCapsStream(HRESULT* phr, CSource* pFilter)
        : CCaptureStream(L"Listed caps pin", phr, pFilter, L"Out") {
        (void)BuildRgb24VideoType(160, 120, 333333, &m_mt);
    }

    STDMETHODIMP SetFormat(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT FillBuffer(IMediaSample*) override { return S_FALSE; }
    HRESULT GetMediaType(CMediaType* pmt) override { return pmt->Set(m_mt); }
    using CSourceStream::GetMediaType;
    HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }

    int count = 2;
    int recordSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    int failingIndex = -1;
    int asked = 0;

protected:
    int CapabilityCount() override { return count; }
    int CapabilityRecordSize() override { return recordSize; }
    HRESULT GetCapability(int iIndex, CMediaType* pmt, VIDEO_STREAM_CONFIG_CAPS* pCaps) override {
        ++asked;
        if (iIndex == failingIndex)
            return E_OUTOFMEMORY;
        // Every byte of the record set, so that a copy cut short or run long shows.
        std::memset(pCaps, 0x11 + iIndex, sizeof *pCaps);
        pCaps->guid = FORMAT_VideoInfo;
        return BuildRgb24VideoType(320, 240, 0, pmt);
    }
};

class CListedCapsSource : public CSource {
public:
    explicit CListedCapsSource(HRESULT* phr) : CSource(L"Listed caps source", nullptr, kCapsClsid) {
        m_pStream = new CListedCapsStream(phr, this);
    }
    CListedCapsStream* m_pStream;
};
COM_CLASSES_END

class CaptureStreamTest : public testing::Test {
protected:
    void SetUp() override {
        HRESULT hr = S_OK;
        m_pSource = new CListedCapsSource(&hr);
        ASSERT_EQ(S_OK, hr);
        m_pSource->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, m_pSource->NonDelegatingQueryInterface(
                            IID_IBaseFilter, reinterpret_cast<void**>(m_filter.GetAddressOf())));
        m_pSource->NonDelegatingRelease();
        m_pStream = m_pSource->m_pStream;
        ComPtr<IPin> pin;
        ASSERT_EQ(S_OK, m_filter->FindPin(L"1", &pin));
        ASSERT_EQ(S_OK, pin.As(&m_config));
    }
    void TearDown() override {
        m_config.Reset();
        EXPECT_EQ(0u, FinalRelease(m_filter));
    }

    win::ComScope m_com;
    CListedCapsSource* m_pSource = nullptr;
    CListedCapsStream* m_pStream = nullptr;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IAMStreamConfig> m_config;
};

} // namespace

TEST_F(CaptureStreamTest, StreamCapsWriteExactlyTheReportedRecordSize) {
    constexpr size_t kCaps = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    constexpr BYTE kGuard = 0xCD;
    for (int recordSize : {128, 64, 1, 0, 200}) {
        SCOPED_TRACE(testing::Message() << "record size " << recordSize);
        m_pStream->recordSize = recordSize;
        int count = -1, size = -1;
        ASSERT_EQ(S_OK, m_config->GetNumberOfCapabilities(&count, &size));
        EXPECT_EQ(2, count);
        EXPECT_EQ(recordSize, size);

        std::vector<BYTE> buffer(static_cast<size_t>(recordSize) + 64, kGuard);
        MediaTypeHolder mt;
        ASSERT_EQ(S_OK, m_config->GetStreamCaps(1, &mt.p, buffer.data()));
        ASSERT_TRUE(mt.p);
        EXPECT_EQ(320, mt.Vih()->bmiHeader.biWidth);
        const size_t record = static_cast<size_t>(recordSize);
        for (size_t i = 0; i < buffer.size(); ++i) {
            const BYTE expected = i >= record ? kGuard
                                  : i < kCaps ? (i < sizeof(GUID) ? buffer[i] : 0x12)
                                              : 0;
            if (buffer[i] != expected) {
                ADD_FAILURE() << "byte " << i << " is " << int(buffer[i]) << ", not " << int(expected);
                break;
            }
        }
        if (recordSize >= static_cast<int>(sizeof(GUID))) {
            EXPECT_EQ(0, std::memcmp(buffer.data(), &FORMAT_VideoInfo, sizeof(GUID)));
        }
    }
}

TEST_F(CaptureStreamTest, StreamCapsCheckTheirArgumentsAndHandOutNothingOnFailure) {
    BYTE caps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
    AM_MEDIA_TYPE* pmt = nullptr;
    EXPECT_EQ(E_POINTER, m_config->GetStreamCaps(0, nullptr, caps));
    EXPECT_EQ(E_POINTER, m_config->GetStreamCaps(0, &pmt, nullptr));
    int count = 0;
    EXPECT_EQ(E_POINTER, m_config->GetNumberOfCapabilities(&count, nullptr));

    struct Case {
        const char* name;
        int index;
        HRESULT expected;
        int asked; // how often the pin's GetCapability runs
    } cases[] = {
        {"before the list", -1, E_INVALIDARG, 0},
        {"past the list", 2, E_INVALIDARG, 0},
        {"a capability the pin cannot make", 0, E_OUTOFMEMORY, 1},
    };
    m_pStream->failingIndex = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_pStream->asked = 0;
        pmt = reinterpret_cast<AM_MEDIA_TYPE*>(0x1234); // junk: the call must clear it
        EXPECT_EQ(c.expected, m_config->GetStreamCaps(c.index, &pmt, caps));
        EXPECT_EQ(nullptr, pmt);
        EXPECT_EQ(c.asked, m_pStream->asked);
    }
    // An empty list has no index at all.
    m_pStream->count = 0;
    pmt = reinterpret_cast<AM_MEDIA_TYPE*>(0x1234);
    EXPECT_EQ(E_INVALIDARG, m_config->GetStreamCaps(0, &pmt, caps));
    EXPECT_EQ(nullptr, pmt);
}

TEST(VideoTypeTest, Rgb24TypesAreCompleteWithEveryOtherFieldZero) {
    struct Case {
        LONG width, height;
        DWORD sizeImage; // rows padded to 4 bytes
    } cases[] = {{160, 120, 57600}, {640, 480, 921600}, {321, 2, 1928}, {1, 1, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        CMediaType mt;
        ASSERT_EQ(S_OK, BuildRgb24VideoType(c.width, c.height, 666666, &mt));
        EXPECT_TRUE(mt.majortype == MEDIATYPE_Video);
        EXPECT_TRUE(mt.subtype == MEDIASUBTYPE_RGB24);
        EXPECT_TRUE(mt.formattype == FORMAT_VideoInfo);
        EXPECT_TRUE(mt.bFixedSizeSamples);
        EXPECT_FALSE(mt.bTemporalCompression);
        EXPECT_EQ(c.sizeImage, mt.lSampleSize);
        EXPECT_EQ(nullptr, mt.pUnk);
        const VIDEOINFOHEADER* pvih = VideoInfoOf(mt);
        ASSERT_TRUE(pvih);

        VIDEOINFOHEADER expected = {};
        expected.AvgTimePerFrame = 666666;
        expected.bmiHeader.biSize = 40;
        expected.bmiHeader.biWidth = c.width;
        expected.bmiHeader.biHeight = c.height;
        expected.bmiHeader.biPlanes = 1;
        expected.bmiHeader.biBitCount = 24;
        expected.bmiHeader.biCompression = BI_RGB;
        expected.bmiHeader.biSizeImage = c.sizeImage;
        EXPECT_EQ(0, std::memcmp(&expected, pvih, sizeof expected)) << "a sample grabber compares every byte";
    }
    EXPECT_EQ(E_POINTER, BuildRgb24VideoType(160, 120, 0, nullptr));
}

TEST(VideoTypeTest, VideoInfoIsReadOnlyFromAWholeBlock) {
    VIDEOINFOHEADER vih = {};
    struct Case {
        const char* name;
        GUID formattype;
        ULONG cbFormat;
        BYTE* pbFormat;
        bool usable;
    } cases[] = {
        {"whole", FORMAT_VideoInfo, sizeof vih, reinterpret_cast<BYTE*>(&vih), true},
        {"longer than the structure", FORMAT_VideoInfo, sizeof vih + 8, reinterpret_cast<BYTE*>(&vih), true},
        {"one byte short", FORMAT_VideoInfo, sizeof vih - 1, reinterpret_cast<BYTE*>(&vih), false},
        {"no block", FORMAT_VideoInfo, sizeof vih, nullptr, false},
        {"another format type", FORMAT_VideoInfo2, sizeof vih, reinterpret_cast<BYTE*>(&vih), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AM_MEDIA_TYPE mt = {};
        mt.formattype = c.formattype;
        mt.cbFormat = c.cbFormat;
        mt.pbFormat = c.pbFormat;
        EXPECT_EQ(c.usable ? &vih : nullptr, VideoInfoOf(mt));
    }
}
