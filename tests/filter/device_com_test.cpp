// The COM answers of the filter and its pin, as tables of cases: media-type positions and checks,
// stream capabilities, the pin category property, property pages, and which object answers the
// capture-device interfaces asked of the filter.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>

#include "device_test_util.h"

namespace {

class DeviceComTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        m_settings.Clear();
    }
    // A filter made after "SelectPixel" was stored as this text.
    void MakeDevice(const char* selectPixel) {
        m_settings.SetString(CFilterSettings::kSelectPixelValue, selectPixel);
        m_device = CreateDevice(&m_pStream);
        ASSERT_TRUE(m_device && m_pStream);
    }
    void TearDown() override {
        if (m_device) {
            EXPECT_EQ(0u, FinalRelease(m_device));
        }
    }

    win::ComScope m_com;
    CSavedFilterSettings m_settings;
    ComPtr<IBaseFilter> m_device;
    CTesk_Stream* m_pStream = nullptr;
};

// The seven sizes the device offers, in its order: written out here so that a change to the table
// in the filter shows up as a failure instead of moving the expectation with it.
const SIZE kSizes[] = {{160, 120}, {320, 180}, {320, 240}, {512, 288}, {512, 384}, {640, 360}, {640, 480}};

SIZE SizeOf(const AM_MEDIA_TYPE& mt) {
    const VIDEOINFOHEADER* pvih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    return {pvih->bmiHeader.biWidth, pvih->bmiHeader.biHeight};
}

} // namespace

TEST_F(DeviceComTest, MediaTypePositionsOfferTheCurrentFormatFirstThenTheTableFromEntryOne) {
    MakeDevice("3");
    const struct {
        int position;
        HRESULT hr;
        SIZE size;
    } cases[] = {
        {-1, E_INVALIDARG, {}}, {0, S_OK, {512, 288}}, {1, S_OK, {320, 180}},
        {2, S_OK, {320, 240}},  {3, S_OK, {512, 288}}, {4, S_OK, {512, 384}},
        {5, S_OK, {640, 360}},  {6, S_OK, {640, 480}}, {7, VFW_S_NO_MORE_ITEMS, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("position " + std::to_string(c.position));
        CMediaType mt;
        EXPECT_EQ(c.hr, m_pStream->GetMediaType(c.position, &mt));
        if (c.hr != S_OK)
            continue;
        ASSERT_EQ(sizeof(VIDEOINFOHEADER), mt.cbFormat);
        EXPECT_TRUE(mt.majortype == MEDIATYPE_Video);
        EXPECT_TRUE(mt.subtype == MEDIASUBTYPE_RGB24);
        EXPECT_TRUE(mt.formattype == FORMAT_VideoInfo);
        EXPECT_EQ(c.size.cx, SizeOf(mt).cx);
        EXPECT_EQ(c.size.cy, SizeOf(mt).cy);
        const VIDEOINFOHEADER* pvih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        EXPECT_EQ(333333, pvih->AvgTimePerFrame);
        EXPECT_EQ(static_cast<DWORD>(((c.size.cx * 3 + 3) & ~3) * c.size.cy), pvih->bmiHeader.biSizeImage);
        EXPECT_EQ(pvih->bmiHeader.biSizeImage, mt.lSampleSize);
        EXPECT_TRUE(mt.bFixedSizeSamples);
        EXPECT_FALSE(mt.bTemporalCompression);
    }
    EXPECT_EQ(E_POINTER, m_pStream->GetMediaType(0, nullptr));

    // The same list through the platform's enumerator, as a graph sees it.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, m_pStream->EnumMediaTypes(&types));
    std::vector<SIZE> listed;
    AM_MEDIA_TYPE* pmt = nullptr;
    while (types->Next(1, &pmt, nullptr) == S_OK) {
        listed.push_back(SizeOf(*pmt));
        DeleteMediaType(pmt);
    }
    ASSERT_EQ(7u, listed.size());
    EXPECT_EQ(512, listed[0].cx);
    EXPECT_EQ(640, listed[6].cx);
}

TEST_F(DeviceComTest, OnlyTheCurrentFormatPassesCheckMediaType) {
    MakeDevice("0");
    CMediaType current;
    ASSERT_EQ(S_OK, m_pStream->GetMediaType(&current));
    CMediaType other;
    ASSERT_EQ(S_OK, m_pStream->BuildFormat(2, &other)); // 320 x 240
    CMediaType slower(current);
    reinterpret_cast<VIDEOINFOHEADER*>(slower.pbFormat)->AvgTimePerFrame = 666666;
    CMediaType noBlock(current);
    noBlock.ResetFormatBuffer();
    CMediaType otherSubtype(current);
    otherSubtype.subtype = MEDIASUBTYPE_RGB32;

    const struct {
        const char* name;
        const CMediaType* pmt;
        HRESULT hr;
    } cases[] = {
        {"the current format", &current, S_OK},     {"320 x 240 while 160 x 120 is current", &other, E_FAIL},
        {"another frame time", &slower, E_FAIL},    {"no format block", &noBlock, E_FAIL},
        {"another subtype", &otherSubtype, E_FAIL}, {"null", nullptr, E_POINTER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.hr, m_pStream->CheckMediaType(c.pmt));
    }
    EXPECT_EQ(S_OK, m_pStream->QueryAccept(&current));
    EXPECT_EQ(S_FALSE, m_pStream->QueryAccept(&other));
}

TEST_F(DeviceComTest, StreamCapsDescribeEveryTableSizeWhateverTheCurrentFormat) {
    MakeDevice("3");
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_device.As(&config));
    int count = -1, size = -1;
    EXPECT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(7, count);
    EXPECT_EQ(128, size);

    for (int index : {-1, 7}) {
        SCOPED_TRACE("index " + std::to_string(index));
        AM_MEDIA_TYPE* pmt = reinterpret_cast<AM_MEDIA_TYPE*>(0x1234);
        VIDEO_STREAM_CONFIG_CAPS caps;
        EXPECT_EQ(E_INVALIDARG, config->GetStreamCaps(index, &pmt, reinterpret_cast<BYTE*>(&caps)));
        EXPECT_EQ(nullptr, pmt);
    }
    for (int index = 0; index < static_cast<int>(std::size(kSizes)); ++index) {
        SCOPED_TRACE("index " + std::to_string(index));
        MediaTypeHolder type;
        VIDEO_STREAM_CONFIG_CAPS caps;
        std::memset(&caps, 0xAB, sizeof caps);
        ASSERT_EQ(S_OK, config->GetStreamCaps(index, &type.p, reinterpret_cast<BYTE*>(&caps)));
        const AM_MEDIA_TYPE& mt = *type.p;
        EXPECT_TRUE(mt.majortype == MEDIATYPE_Video);
        EXPECT_TRUE(mt.subtype == MEDIASUBTYPE_RGB24);
        EXPECT_TRUE(mt.formattype == FORMAT_VideoInfo);
        EXPECT_FALSE(mt.bFixedSizeSamples);
        EXPECT_FALSE(mt.bTemporalCompression);
        ASSERT_EQ(88u, mt.cbFormat);
        const VIDEOINFOHEADER* pvih = type.Vih();
        EXPECT_EQ(0, pvih->AvgTimePerFrame);
        EXPECT_TRUE(IsRectEmpty(&pvih->rcSource) && IsRectEmpty(&pvih->rcTarget));
        EXPECT_EQ(kSizes[index].cx, pvih->bmiHeader.biWidth);
        EXPECT_EQ(kSizes[index].cy, pvih->bmiHeader.biHeight);
        EXPECT_EQ(pvih->bmiHeader.biSizeImage, mt.lSampleSize);
        EXPECT_EQ(static_cast<DWORD>(kSizes[index].cx * 3 * kSizes[index].cy), pvih->bmiHeader.biSizeImage);

        EXPECT_TRUE(caps.guid == FORMAT_VideoInfo);
        EXPECT_EQ(0u, caps.VideoStandard);
        EXPECT_EQ(kSizes[index].cx, caps.InputSize.cx);
        EXPECT_EQ(kSizes[index].cy, caps.InputSize.cy);
        EXPECT_EQ(160, caps.MinCroppingSize.cx);
        EXPECT_EQ(120, caps.MinCroppingSize.cy);
        EXPECT_EQ(640, caps.MaxCroppingSize.cx);
        EXPECT_EQ(480, caps.MaxCroppingSize.cy);
        EXPECT_EQ(32, caps.CropGranularityX);
        EXPECT_EQ(24, caps.CropGranularityY);
        EXPECT_EQ(0, caps.CropAlignX);
        EXPECT_EQ(0, caps.CropAlignY);
        EXPECT_EQ(160, caps.MinOutputSize.cx);
        EXPECT_EQ(480, caps.MaxOutputSize.cy);
        EXPECT_EQ(4, caps.OutputGranularityX);
        EXPECT_EQ(4, caps.OutputGranularityY);
        EXPECT_EQ(0, caps.StretchTapsX + caps.StretchTapsY + caps.ShrinkTapsX + caps.ShrinkTapsY);
        EXPECT_EQ(333333, caps.MinFrameInterval);
        EXPECT_EQ(10000000, caps.MaxFrameInterval);
        EXPECT_EQ(460800, caps.MinBitsPerSecond);
        EXPECT_EQ(221184000, caps.MaxBitsPerSecond);
    }
}

TEST_F(DeviceComTest, PinCategoryPropertyIsCaptureAndReadOnly) {
    MakeDevice("0");
    ComPtr<IKsPropertySet> props;
    ASSERT_EQ(S_OK, m_device.As(&props));
    const GUID kOtherSet = IID_IPersist;
    const struct {
        const char* name;
        const GUID* set;
        DWORD id;
        bool data;
        DWORD cbData;
        bool sizePointer;
        HRESULT hr;
        DWORD returned; // what the size pointer holds afterwards (0xdeadbeef: untouched)
    } cases[] = {
        {"another property set", &kOtherSet, 0, true, 16, true, E_PROP_SET_UNSUPPORTED, 0xdeadbeef},
        {"another property", &AMPROPSETID_Pin, 1, true, 16, true, E_PROP_ID_UNSUPPORTED, 0xdeadbeef},
        {"neither data nor size", &AMPROPSETID_Pin, 0, false, 0, false, E_POINTER, 0xdeadbeef},
        {"size only", &AMPROPSETID_Pin, 0, false, 0, true, S_OK, 16},
        {"a 15-byte buffer", &AMPROPSETID_Pin, 0, true, 15, true, E_UNEXPECTED, 16},
        {"a 16-byte buffer", &AMPROPSETID_Pin, 0, true, 16, true, S_OK, 16},
        {"a 16-byte buffer, no size", &AMPROPSETID_Pin, 0, true, 16, false, S_OK, 0xdeadbeef},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GUID data;
        std::memset(&data, 0xEE, sizeof data);
        DWORD returned = 0xdeadbeef;
        EXPECT_EQ(c.hr, props->Get(*c.set, c.id, nullptr, 0, c.data ? &data : nullptr, c.cbData,
                                   c.sizePointer ? &returned : nullptr));
        EXPECT_EQ(c.returned, returned);
        if (c.hr == S_OK && c.data) {
            EXPECT_TRUE(data == PIN_CATEGORY_CAPTURE);
        } else {
            const BYTE* p = reinterpret_cast<const BYTE*>(&data);
            EXPECT_EQ(0xEE, p[0]) << "nothing written";
        }
    }

    const struct {
        const GUID* set;
        DWORD id;
        HRESULT hr;
    } supported[] = {{&kOtherSet, 0, E_PROP_SET_UNSUPPORTED},
                     {&AMPROPSETID_Pin, 1, E_PROP_ID_UNSUPPORTED},
                     {&AMPROPSETID_Pin, 0, S_OK}};
    for (const auto& c : supported) {
        DWORD support = 0xdeadbeef;
        EXPECT_EQ(c.hr, props->QuerySupported(*c.set, c.id, &support));
        EXPECT_EQ(c.hr == S_OK ? DWORD{KSPROPERTY_SUPPORT_GET} : 0xdeadbeef, support);
    }
    EXPECT_EQ(S_OK, props->QuerySupported(AMPROPSETID_Pin, 0, nullptr));
    GUID category = PIN_CATEGORY_CAPTURE;
    EXPECT_EQ(E_NOTIMPL, props->Set(AMPROPSETID_Pin, 0, nullptr, 0, &category, sizeof category));
}

TEST_F(DeviceComTest, PropertyPagesNameTheZarvexPage) {
    MakeDevice("0");
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(S_OK, m_device.As(&pages));
    EXPECT_EQ(E_POINTER, pages->GetPages(nullptr));
    CAUUID list = {0xdeadbeef, reinterpret_cast<GUID*>(0x1234)};
    ASSERT_EQ(S_OK, pages->GetPages(&list));
    ASSERT_EQ(1u, list.cElems);
    EXPECT_TRUE(list.pElems[0] == CLSID_ZarvexProp);
    CoTaskMemFree(list.pElems);
}

// The filter answers the capture-device interfaces with its pin's; the rest stay the filter's own.
TEST_F(DeviceComTest, CaptureInterfacesAskedOfTheFilterAreThePins) {
    MakeDevice("0");
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, m_device->FindPin(L"1", &pin));
    PIN_INFO info = {};
    ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
    EXPECT_STREQ(L"RGB Out", info.achName);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    info.pFilter->Release();

    const IID* iids[] = {&IID_IAMStreamConfig, &IID_IKsPropertySet, &IID_ISpecifyPropertyPages,
                         &IID_IZarvexSettings};
    for (const IID* iid : iids) {
        ComPtr<IUnknown> fromFilter, fromPin;
        ASSERT_EQ(S_OK, m_device->QueryInterface(*iid, reinterpret_cast<void**>(fromFilter.GetAddressOf())));
        ASSERT_EQ(S_OK, pin->QueryInterface(*iid, reinterpret_cast<void**>(fromPin.GetAddressOf())));
        EXPECT_EQ(fromPin.Get(), fromFilter.Get());
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(E_NOINTERFACE,
              m_device->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(none.GetAddressOf())));
    EXPECT_EQ(nullptr, none.Get());
    EXPECT_EQ(E_POINTER, m_device->QueryInterface(IID_IAMStreamConfig, nullptr));

    ComPtr<IPin> pinAgain;
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_device.As(&config));
    ASSERT_EQ(S_OK, config.As(&pinAgain));
    EXPECT_EQ(pin.Get(), pinAgain.Get()) << "the interface leads back to the pin";

    MediaTypeHolder format;
    ASSERT_EQ(S_OK, config->GetFormat(&format.p));
    EXPECT_EQ(160, format.Vih()->bmiHeader.biWidth);
    EXPECT_EQ(E_POINTER, config->GetFormat(nullptr));
}
