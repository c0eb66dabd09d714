// Which pin of a device EnumVideoFormats reads the formats from: the first output pin of the
// capture or preview category (or one that cannot say its category), else the last pin walked.
// The devices are filters of the framework made in this process, one capability per pin, so the
// format read says which pin was chosen.
#include "DShowClient.h"

#include <gtest/gtest.h>

#include <vector>

#include "CaptureStream.h"
#include "ComScope.h"
#include "PinCategory.h"
#include "Source.h"
#include "VideoDevices.h"
#include "VideoType.h"

using Microsoft::WRL::ComPtr;

namespace {

// No category: the pin has no IKsPropertySet at all.
struct PinShape {
    const GUID* category;
    LONG width; // of the pin's one capability
};

COM_CLASSES_BEGIN
class CCategoryPin : public CCaptureStream {
public:
    CCategoryPin(HRESULT* phr, CSource* filter, const PinShape& shape)
        : CCaptureStream(L"category pin", phr, filter, L"Out"), m_shape(shape) {}

    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IKsPropertySet && !m_shape.category) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return CCaptureStream::NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD cbData,
                     DWORD* returned) override {
        return GetPinCategoryProperty(set, id, data, cbData, returned, *m_shape.category);
    }
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }

    using CSourceStream::GetMediaType;
    HRESULT GetMediaType(CMediaType* pmt) override {
        return BuildRgb24VideoType(m_shape.width, 100, 333333, pmt);
    }
    HRESULT FillBuffer(IMediaSample*) override { return S_FALSE; }
    HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }

protected:
    int CapabilityCount() override { return 1; }
    HRESULT GetCapability(int, CMediaType* pmt, VIDEO_STREAM_CONFIG_CAPS* caps) override {
        caps->guid = FORMAT_VideoInfo;
        return GetMediaType(pmt);
    }

private:
    const PinShape m_shape;
};

class CPinChoiceDevice : public CSource {
public:
    CPinChoiceDevice(const std::vector<PinShape>& pins, HRESULT* phr)
        : CSource(L"pin choice", nullptr, GUID{}) {
        CAutoLock lock(&m_cStateLock);
        for (const PinShape& shape : pins)
            new CCategoryPin(phr, this, shape); // the pin adds itself; the filter deletes it
    }
};
COM_CLASSES_END

ComPtr<IBaseFilter> MakeDevice(const std::vector<PinShape>& pins) {
    HRESULT hr = S_OK;
    auto* device = new CPinChoiceDevice(pins, &hr);
    device->NonDelegatingAddRef();
    ComPtr<IBaseFilter> filter;
    (void)device->NonDelegatingQueryInterface(IID_IBaseFilter,
                                              reinterpret_cast<void**>(filter.GetAddressOf()));
    device->NonDelegatingRelease();
    return SUCCEEDED(hr) ? filter : nullptr;
}

} // namespace

TEST(PinChoiceTest, FormatsComeFromTheFirstCaptureOrPreviewPinElseTheLastPin) {
    const win::ComScope com;
    const GUID* const still = &PIN_CATEGORY_STILL;
    const GUID* const capture = &PIN_CATEGORY_CAPTURE;
    const GUID* const preview = &PIN_CATEGORY_PREVIEW;
    struct Case {
        const char* what;
        std::vector<PinShape> pins;
        LONG chosenWidth;
    };
    const Case cases[] = {
        {"a still pin before the capture pin", {{still, 320}, {capture, 640}}, 640},
        {"a preview pin first", {{preview, 160}, {capture, 640}}, 160},
        {"a pin that cannot say its category", {{nullptr, 200}, {capture, 640}}, 200},
        {"no capture or preview pin", {{still, 320}, {still, 400}}, 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IBaseFilter> device = MakeDevice(c.pins);
        ASSERT_TRUE(device);
        CVideoFormatArray formats;
        ASSERT_EQ(1, EnumVideoFormats(device.Get(), formats));
        EXPECT_EQ(c.chosenWidth, formats[0].bmiHeader.biWidth);
        EXPECT_EQ(0u, device.Detach()->Release());
    }
    // A device without pins has nothing to read.
    ComPtr<IBaseFilter> bare = MakeDevice({});
    CVideoFormatArray formats;
    EXPECT_EQ(-2, EnumVideoFormats(bare.Get(), formats));
}
