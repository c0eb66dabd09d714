// CMediaType and the media-type helpers.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "FrameworkTestUtil.h"
#include "MediaType.h"

namespace {

const GUID kNull = {};

// An IUnknown that counts its references, to see that types hold and drop pUnk.
COM_CLASSES_BEGIN
class CCounted : public IUnknown {
public:
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
};
COM_CLASSES_END

CMediaType VideoType(int width, int height) {
    MediaTypeHolder t(NewRgb24Type(width, height));
    return CMediaType(*t.p);
}

} // namespace

TEST(MediaTypeTest, BitmapSizePadsRowsToFourBytes) {
    struct Case {
        LONG width, height;
        WORD bits;
        DWORD expected;
    } cases[] = {
        {640, 480, 24, 921600}, {160, 120, 24, 57600}, {1, 1, 24, 4},  {3, 2, 24, 24},
        {5, -3, 24, 48},        {7, 1, 8, 8},          {33, 1, 1, 8},  {10, 10, 32, 400},
        {2, 1, 16, 4},          {3, 1, 16, 8},         {0, 10, 24, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        BITMAPINFOHEADER bmi = {};
        bmi.biWidth = c.width;
        bmi.biHeight = c.height;
        bmi.biBitCount = c.bits;
        EXPECT_EQ(c.expected, GetBitmapSize(&bmi));
    }
}

TEST(MediaTypeTest, BitmapSubtypeFollowsCompressionBitCountAndMasks) {
    struct Case {
        const char* name;
        WORD bits;
        DWORD compression;
        DWORD masks[3];
        GUID expected;
    } cases[] = {
        {"1-bit", 1, BI_RGB, {}, MEDIASUBTYPE_RGB1},
        {"4-bit", 4, BI_RGB, {}, MEDIASUBTYPE_RGB4},
        {"8-bit", 8, BI_RGB, {}, MEDIASUBTYPE_RGB8},
        {"24-bit", 24, BI_RGB, {}, MEDIASUBTYPE_RGB24},
        {"32-bit", 32, BI_RGB, {}, MEDIASUBTYPE_RGB32},
        {"16-bit plain", 16, BI_RGB, {}, MEDIASUBTYPE_RGB555},
        {"16-bit 555 masks", 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}, MEDIASUBTYPE_RGB555},
        {"16-bit 565 masks", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, MEDIASUBTYPE_RGB565},
        {"16-bit odd masks", 16, BI_BITFIELDS, {0x00FF, 0xFF00, 0}, kNull},
        {"2-bit", 2, BI_RGB, {}, kNull},
        {"YUY2", 16, MAKEFOURCC('Y', 'U', 'Y', '2'), {}, MEDIASUBTYPE_YUY2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        struct {
            BITMAPINFOHEADER bmi;
            DWORD masks[3];
        } info = {};
        info.bmi.biSize = sizeof(BITMAPINFOHEADER);
        info.bmi.biBitCount = c.bits;
        info.bmi.biCompression = c.compression;
        std::memcpy(info.masks, c.masks, sizeof(info.masks));
        EXPECT_TRUE(GetBitmapSubtype(&info.bmi) == c.expected);
    }
}

TEST(MediaTypeTest, CopiesOwnTheirFormatBlockAndHoldPUnk) {
    CCounted counted;
    CMediaType original = VideoType(320, 240);
    original.pUnk = &counted;
    counted.AddRef();
    {
        CMediaType copy(original);
        EXPECT_NE(original.pbFormat, copy.pbFormat);
        EXPECT_TRUE(copy == original);
        EXPECT_EQ(3, counted.refs);

        CMediaType assigned;
        assigned = original;
        EXPECT_NE(original.pbFormat, assigned.pbFormat);
        EXPECT_TRUE(assigned == original);
        EXPECT_EQ(4, counted.refs);
        assigned = assigned; // self-assignment keeps the block
        EXPECT_NE(nullptr, assigned.pbFormat);
    }
    EXPECT_EQ(2, counted.refs);

    AM_MEDIA_TYPE* pTask = CreateMediaType(&original);
    ASSERT_NE(nullptr, pTask);
    EXPECT_NE(original.pbFormat, pTask->pbFormat);
    EXPECT_EQ(0, std::memcmp(original.pbFormat, pTask->pbFormat, original.cbFormat));
    EXPECT_EQ(3, counted.refs);
    DeleteMediaType(pTask);
    EXPECT_EQ(2, counted.refs);
    DeleteMediaType(nullptr); // harmless
}

TEST(MediaTypeTest, EqualityComparesTypesAndFormatBytesOnly) {
    const CMediaType base = VideoType(320, 240);
    CMediaType same = base;
    same.lSampleSize = 1; // not part of the comparison
    same.bTemporalCompression = TRUE;
    EXPECT_TRUE(same == base);

    CMediaType otherSize = VideoType(640, 480);
    EXPECT_TRUE(otherSize != base);
    CMediaType otherRate = base;
    reinterpret_cast<VIDEOINFOHEADER*>(otherRate.pbFormat)->AvgTimePerFrame = 666666;
    EXPECT_TRUE(otherRate != base);
    CMediaType otherSubtype = base;
    otherSubtype.SetSubtype(&MEDIASUBTYPE_RGB32);
    EXPECT_TRUE(otherSubtype != base);
    CMediaType shorter = base;
    shorter.ReallocFormatBuffer(base.cbFormat - 4);
    EXPECT_TRUE(shorter != base);
}

TEST(MediaTypeTest, AllocFormatBufferReusesABlockOfTheSameLength) {
    CMediaType mt;
    BYTE* first = mt.AllocFormatBuffer(88);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(88u, mt.FormatLength());
    EXPECT_EQ(first, mt.AllocFormatBuffer(88));
    BYTE* second = mt.AllocFormatBuffer(100);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(100u, mt.FormatLength());
    mt.ResetFormatBuffer();
    EXPECT_EQ(nullptr, mt.Format());
    EXPECT_EQ(0u, mt.FormatLength());
}

TEST(MediaTypeTest, SampleSizeZeroMeansVariable) {
    CMediaType mt;
    EXPECT_TRUE(mt.IsFixedSize());
    mt.SetSampleSize(921600);
    EXPECT_TRUE(mt.IsFixedSize());
    EXPECT_EQ(921600u, mt.GetSampleSize());
    mt.SetSampleSize(0);
    EXPECT_FALSE(mt.IsFixedSize());
    EXPECT_EQ(0u, mt.GetSampleSize());
}

TEST(MediaTypeTest, PartialTypesMatchOnWhatTheyName) {
    const CMediaType full = VideoType(320, 240);
    EXPECT_FALSE(full.IsPartiallySpecified());

    CMediaType videoOnly(&MEDIATYPE_Video);
    EXPECT_TRUE(videoOnly.IsPartiallySpecified());
    EXPECT_TRUE(full.MatchesPartial(&videoOnly));

    CMediaType rgb32(&MEDIATYPE_Video);
    rgb32.SetSubtype(&MEDIASUBTYPE_RGB32);
    EXPECT_FALSE(full.MatchesPartial(&rgb32));

    CMediaType audio(&MEDIATYPE_Audio);
    EXPECT_FALSE(full.MatchesPartial(&audio));

    const CMediaType otherSize = VideoType(640, 480);
    EXPECT_FALSE(full.MatchesPartial(&otherSize)) << "a named format block must match byte for byte";
    EXPECT_TRUE(full.MatchesPartial(&full));
}
