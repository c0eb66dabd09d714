#include "TestCamCapabilities.h"

#include <new>
#include <string>

#include "TestCameraStream.h"
#include "UniqueAny.h"
#include "VideoType.h"

#include <dvdmedia.h>

namespace {

// The "mixed" list, in capability order. A capture program that lists 24-bit and 16-bit
// FORMAT_VideoInfo entries with a whole format block shows exactly the usable ones:
//   640x480x24 30f RGB , 320x240x24 15f RGB , 320x240x16 YUY2, 160x120x24 RGB , 160x120x24 2000f RGB
enum class Entry {
    Rgb24,      // usable: 24-bit RGB at `frameTime` (0: no rate)
    Rgb8,       // 8 bits per pixel
    VideoInfo2, // FORMAT_VideoInfo2 instead of FORMAT_VideoInfo
    ShortBlock, // FORMAT_VideoInfo with a block of only 40 bytes
    NoBlock,    // FORMAT_VideoInfo without any block
    Yuy2,       // usable: 16-bit YUY2, no rate
    Unreadable, // GetStreamCaps fails for it
};

struct MixedEntry {
    Entry kind;
    LONG width, height;
    REFERENCE_TIME frameTime;
};

const MixedEntry TestCamMixedList[] = {
    {Entry::Rgb24, 640, 480, 333333}, {Entry::Rgb8, 320, 240, 333333},  {Entry::VideoInfo2, 640, 480, 333333},
    {Entry::Rgb24, 320, 240, 666666}, {Entry::ShortBlock, 320, 240, 0}, {Entry::Yuy2, 320, 240, 0},
    {Entry::Unreadable, 320, 240, 0}, {Entry::NoBlock, 160, 120, 0},    {Entry::Rgb24, 160, 120, 0},
    {Entry::Rgb24, 160, 120, 5000}, // 2000 frames per second: below a millisecond per frame
};
constexpr int kMixedCount = static_cast<int>(sizeof TestCamMixedList / sizeof TestCamMixedList[0]);

HRESULT BuildMixedType(const MixedEntry& e, CMediaType* pmt) {
    HRESULT hr = BuildRgb24VideoType(e.width, e.height, e.frameTime, pmt);
    if (FAILED(hr))
        return hr;
    VIDEOINFOHEADER* pvih = reinterpret_cast<VIDEOINFOHEADER*>(pmt->Format());
    switch (e.kind) {
    case Entry::Rgb24:
        return S_OK;
    case Entry::Rgb8:
        pvih->bmiHeader.biBitCount = 8;
        pvih->bmiHeader.biSizeImage = GetBitmapSize(&pvih->bmiHeader);
        pmt->SetSubtype(&MEDIASUBTYPE_RGB8);
        return S_OK;
    case Entry::Yuy2:
        pvih->bmiHeader.biBitCount = 16;
        pvih->bmiHeader.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
        pvih->bmiHeader.biSizeImage = static_cast<DWORD>(e.width * e.height * 2);
        pmt->SetSubtype(&MEDIASUBTYPE_YUY2);
        pmt->SetSampleSize(pvih->bmiHeader.biSizeImage);
        return S_OK;
    case Entry::VideoInfo2: {
        VIDEOINFOHEADER2 vih2 = {};
        vih2.AvgTimePerFrame = pvih->AvgTimePerFrame;
        vih2.bmiHeader = pvih->bmiHeader;
        pmt->SetFormatType(&FORMAT_VideoInfo2);
        return pmt->SetFormat(reinterpret_cast<const BYTE*>(&vih2), sizeof vih2) ? S_OK : E_OUTOFMEMORY;
    }
    case Entry::ShortBlock:
        return pmt->ReallocFormatBuffer(sizeof(BITMAPINFOHEADER)) ? S_OK : E_OUTOFMEMORY;
    case Entry::NoBlock:
        pmt->ResetFormatBuffer();
        return S_OK;
    case Entry::Unreadable:
        return E_FAIL;
    }
    return E_FAIL;
}

COM_CLASSES_BEGIN
// The camera's pin with a capability list other than its own; everything else is the camera's.
class CTestCamListedStream : public CTestCameraStream {
public:
    CTestCamListedStream(HRESULT* phr, CTestCamera* pParent, TestCamCapabilityList list)
        : CTestCameraStream(phr, pParent), m_list(list) {}

protected:
    int CapabilityCount() override {
        return m_list == TestCamCapabilityList::Mixed ? kMixedCount : CTestCameraStream::CapabilityCount();
    }
    int CapabilityRecordSize() override {
        return m_list == TestCamCapabilityList::Record136 ? 136 : CTestCameraStream::CapabilityRecordSize();
    }
    HRESULT GetCapability(int iIndex, CMediaType* pmt, VIDEO_STREAM_CONFIG_CAPS* pCaps) override {
        if (m_list != TestCamCapabilityList::Mixed)
            return CTestCameraStream::GetCapability(iIndex, pmt, pCaps);
        const MixedEntry& e = TestCamMixedList[iIndex];
        const HRESULT hr = BuildMixedType(e, pmt);
        if (FAILED(hr))
            return hr;
        const SIZE size = {e.width, e.height};
        pCaps->guid = *pmt->FormatType();
        pCaps->InputSize = size;
        pCaps->MinCroppingSize = size;
        pCaps->MaxCroppingSize = size;
        pCaps->CropGranularityX = 1;
        pCaps->CropGranularityY = 1;
        pCaps->MinOutputSize = size;
        pCaps->MaxOutputSize = size;
        pCaps->OutputGranularityX = 1;
        pCaps->OutputGranularityY = 1;
        pCaps->MinFrameInterval = e.frameTime > 0 ? e.frameTime : kMinFrameTime;
        pCaps->MaxFrameInterval = e.frameTime > 0 ? e.frameTime : kMaxFrameTime;
        return S_OK;
    }

private:
    const TestCamCapabilityList m_list;
};
COM_CLASSES_END

} // namespace

TestCamCapabilityList ReadTestCamCapabilityList(REFCLSID clsid) {
    wchar_t szClsid[40] = {};
    if (!StringFromGUID2(clsid, szClsid, 40))
        return TestCamCapabilityList::Standard;
    win::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + szClsid).c_str(), 0, KEY_QUERY_VALUE,
                      key.put()) != ERROR_SUCCESS)
        return TestCamCapabilityList::Standard;
    wchar_t text[32] = {};
    DWORD cb = sizeof text - sizeof text[0]; // room for the terminator a REG_SZ may lack
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), TESTCAM_CAPABILITIES_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(text),
                         &cb) != ERROR_SUCCESS ||
        type != REG_SZ)
        return TestCamCapabilityList::Standard;
    if (lstrcmpW(text, TESTCAM_CAPABILITIES_MIXED) == 0)
        return TestCamCapabilityList::Mixed;
    if (lstrcmpW(text, TESTCAM_CAPABILITIES_RECORD136) == 0)
        return TestCamCapabilityList::Record136;
    return TestCamCapabilityList::Standard;
}

CTestCameraStream* CreateTestCameraStream(HRESULT* phr, CTestCamera* pParent, TestCamCapabilityList list) {
    if (list == TestCamCapabilityList::Standard)
        return new (std::nothrow) CTestCameraStream(phr, pParent);
    return new (std::nothrow) CTestCamListedStream(phr, pParent, list);
}
