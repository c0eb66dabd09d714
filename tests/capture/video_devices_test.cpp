// Video devices by name and their formats, on the bench's real system device enumerator with the
// Zarvex Test Camera and its spares listed; device name text; the format line and capture rate
// rules.
#include "DShowClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ComScope.h"
#include "DeviceNameText.h"
#include "TestCameraIds.h"
#include "Utf8.h"
#include "VideoDevices.h"
#include "listed_video_devices.h"

using Microsoft::WRL::ComPtr;
using testing_support::CListedTestCamera;
using testing_support::CUnlistedVideoDevices;
using testing_support::EnumeratedNames;

namespace {

// A name no ANSI code page holds whole: Japanese, and a camera emoji outside the BMP.
const wchar_t kWideName[] = L"Zarvex \u30AB\u30E1\u30E9 \U0001F4F7";

CLSID ClassOf(IBaseFilter* filter) {
    CLSID clsid = {};
    if (filter)
        (void)filter->GetClassID(&clsid);
    return clsid;
}

class VideoDevicesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_com.ok());
        const std::vector<std::wstring> names = EnumeratedNames();
        ASSERT_NE(names.end(), std::find(names.begin(), names.end(), TESTCAM_FRIENDLY_NAME))
            << "the Zarvex Test Camera is not registered in the bench: tools/testcam/register-testcam.sh "
               "build";
    }

    win::ComScope m_com;
};

} // namespace

TEST(DeviceNameTextTest, ANameIsKeptAsAnsiWhenItCanBeElseAsMarkedUtf8AndComesBackWhole) {
    ASSERT_EQ(1252u, GetACP()) << "the bench runs Wine with the Western code page";
    struct Case {
        const char* what;
        std::wstring name;
        std::string text;
    };
    const Case cases[] = {
        {"plain ASCII", L"Zarvex Test Camera", "Zarvex Test Camera"},
        {"ANSI beyond ASCII", L"Cam\u00E9ra \u20AC", "Cam\xE9ra \x80"},
        {"empty", L"", ""},
        {"Japanese", L"\u30AB\u30E1\u30E9", "\xEF\xBB\xBF" + win::Utf8(L"\u30AB\u30E1\u30E9")},
        {"outside the BMP", kWideName, "\xEF\xBB\xBF" + win::Utf8(kWideName)},
        {"a best-fit character", L"\u0100bc", "\xEF\xBB\xBF" + win::Utf8(L"\u0100bc")},
        // In ANSI it would begin with the three bytes of the mark.
        {"ANSI that looks marked", L"\u00EF\u00BB\u00BFcam",
         "\xEF\xBB\xBF" + win::Utf8(L"\u00EF\u00BB\u00BFcam")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CString text = DeviceNameToText(c.name.c_str());
        EXPECT_EQ(c.text, text.str());
        EXPECT_EQ(c.name, DeviceNameFromText(text));
    }
    // Text an older program kept in ANSI reads as it always did.
    EXPECT_EQ(std::wstring(L"Cam\u00E9ra"), DeviceNameFromText("Cam\xE9ra"));
}

TEST(VideoFormatTextTest, LinesRatesAndCodes) {
    struct Case {
        LONG width, height;
        WORD bits;
        DWORD compression;
        REFERENCE_TIME frameTime;
        const char* line;
    };
    const Case cases[] = {
        {640, 480, 24, BI_RGB, 333333, "640x480x24 30f RGB "},
        {320, 240, 24, BI_RGB, 666666, "320x240x24 15f RGB "},
        {320, 240, 16, MAKEFOURCC('Y', 'U', 'Y', '2'), 0, "320x240x16 YUY2"},
        {1280, 720, 12, MAKEFOURCC('M', 'J', 'P', 'G'), 333667, "1280x720x12 29f MJPG"},
        {160, 120, 24, BI_RGB, 5000, "160x120x24 2000f RGB "},
        {160, 120, 24, BI_RGB, -1, "160x120x24 RGB "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        VIDEOINFOHEADER vih = {};
        vih.AvgTimePerFrame = c.frameTime;
        vih.bmiHeader.biWidth = c.width;
        vih.bmiHeader.biHeight = c.height;
        vih.bmiHeader.biBitCount = c.bits;
        vih.bmiHeader.biCompression = c.compression;
        EXPECT_EQ(std::string(c.line), VideoFormatText(vih).str());
        char code[5];
        std::memset(code, 'x', sizeof code);
        FourCCText(vih, code);
        EXPECT_EQ('\0', code[4]);
    }
}

TEST(VideoFormatTextTest, CaptureRateFollowsTheFrameTimeAndKeepsThePreviousRateWithoutOne) {
    struct Case {
        REFERENCE_TIME frameTime;
        int previous, rate;
    };
    const Case cases[] = {
        {333333, 25, 30},
        {400000, 30, 25},
        {666666, 30, 15},
        {333667, 25, 30},
        {10000, 30, 1000},
        {0, 25, 25},
        {-333333, 25, 25},
        // Below a millisecond a frame: the whole milliseconds are 0, which must not be divided by.
        {1, 25, 25},
        {5000, 30, 30},
        {9999, 12, 12},
        // Slower than a frame a second: the ring still holds one frame a second.
        {10000000, 30, 1},
        {20000000, 30, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frameTime);
        EXPECT_EQ(c.rate, CaptureFrameRate(c.frameTime, c.previous));
    }
}

TEST_F(VideoDevicesTest, EnumVideoDevicesAppendsEveryNameInEnumerationOrder) {
    const std::vector<std::wstring> enumerated = EnumeratedNames();
    CStringArray names;
    names.Add("kept");
    ASSERT_EQ(static_cast<int>(enumerated.size()) + 1, EnumVideoDevices(names));
    EXPECT_EQ(CString("kept"), names[0]);
    for (size_t i = 0; i < enumerated.size(); ++i)
        EXPECT_EQ(DeviceNameToText(enumerated[i].c_str()), names[static_cast<int>(i) + 1]);
}

TEST_F(VideoDevicesTest, WithNoDeviceAtAllTheEnumerationFails) {
    const CUnlistedVideoDevices none;
    ASSERT_TRUE(none.Ok());
    ASSERT_TRUE(EnumeratedNames().empty());
    CStringArray names;
    names.Add("kept");
    EXPECT_EQ(-1, EnumVideoDevices(names));
    EXPECT_EQ(1, names.GetSize());
    EXPECT_FALSE(FindVideoDevice(CString("Zarvex Test Camera")));
}

TEST_F(VideoDevicesTest, TheLaterOfTwoEqualNamesIsFoundAndOnlyTheWholeNameFindsIt) {
    const CListedTestCamera first(0, L"Zarvex Twin Camera", L"Zarvex Twin 1");
    const CListedTestCamera second(1, L"Zarvex Twin Camera", L"Zarvex Twin 2");
    ASSERT_EQ(S_OK, first.Result());
    ASSERT_EQ(S_OK, second.Result());
    // Which twin enumerates later decides; read it from the enumerator itself.
    CLSID later = {};
    for (const auto& moniker : VideoDevices())
        if (FriendlyNameOf(moniker.Get()) == L"Zarvex Twin Camera")
            later = testing_support::DeviceClassOf(moniker.Get());
    ASSERT_TRUE(later == first.Clsid() || later == second.Clsid());

    EXPECT_TRUE(ClassOf(FindVideoDevice(CString("Zarvex Twin Camera")).Get()) == later);
    for (const char* name : {"Zarvex Twin", "zarvex twin camera", "Zarvex Twin Camera ", ""}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(FindVideoDevice(CString(name)));
    }
}

TEST_F(VideoDevicesTest, ANameOutsideTheAnsiCodePageIsListedAndFound) {
    const CListedTestCamera wide(0, kWideName, L"Zarvex Wide");
    ASSERT_EQ(S_OK, wide.Result());
    CStringArray names;
    ASSERT_GT(EnumVideoDevices(names), 0);
    const CString text = DeviceNameToText(kWideName);
    bool listed = false;
    for (int i = 0; i < names.GetSize(); ++i)
        listed = listed || names[i] == text;
    EXPECT_TRUE(listed);
    EXPECT_TRUE(ClassOf(FindVideoDevice(text).Get()) == wide.Clsid());
}

TEST_F(VideoDevicesTest, FormatsOfTheTestCameraAreItsSizesAt30FramesASecond) {
    EXPECT_EQ(-1, EnumVideoFormats(nullptr, *std::make_unique<CVideoFormatArray>()));
    CVideoFormatArray formats;
    ASSERT_EQ(3, EnumVideoDeviceFormats(CString("Zarvex Test Camera"), formats));
    const SIZE sizes[] = {{640, 480}, {320, 240}, {160, 120}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const VIDEOINFOHEADER& f = formats[i];
        EXPECT_EQ(333333, f.AvgTimePerFrame);
        EXPECT_EQ(sizes[i].cx, f.bmiHeader.biWidth);
        EXPECT_EQ(sizes[i].cy, f.bmiHeader.biHeight);
        EXPECT_EQ(24, f.bmiHeader.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), f.bmiHeader.biCompression);
        EXPECT_EQ(static_cast<DWORD>(sizes[i].cx * sizes[i].cy * 3), f.bmiHeader.biSizeImage);
    }
    EXPECT_EQ(-1, EnumVideoDeviceFormats(CString("No Such Camera"), formats));
}

TEST_F(VideoDevicesTest, CapabilitiesThatAreNotWhole16BitVideoInfoAreSkipped) {
    const CListedTestCamera mixed(0, L"Zarvex Mixed Camera", L"Zarvex Mixed", TESTCAM_CAPABILITIES_MIXED);
    ASSERT_EQ(S_OK, mixed.Result());
    CVideoFormatArray formats;
    ASSERT_EQ(5, EnumVideoDeviceFormats(CString("Zarvex Mixed Camera"), formats));
    const char* const lines[] = {"640x480x24 30f RGB ", "320x240x24 15f RGB ", "320x240x16 YUY2",
                                 "160x120x24 RGB ", "160x120x24 2000f RGB "};
    for (int i = 0; i < formats.GetSize(); ++i)
        EXPECT_EQ(std::string(lines[i]), VideoFormatText(formats[i]).str());
}

TEST_F(VideoDevicesTest, ACapabilityRecordOtherThan128BytesListsNothing) {
    const CListedTestCamera odd(0, L"Zarvex Odd Record Camera", L"Zarvex Odd",
                                TESTCAM_CAPABILITIES_RECORD136);
    ASSERT_EQ(S_OK, odd.Result());
    CVideoFormatArray formats;
    VIDEOINFOHEADER kept = {};
    kept.AvgTimePerFrame = 42;
    formats.Add(kept);
    EXPECT_EQ(-2, EnumVideoDeviceFormats(CString("Zarvex Odd Record Camera"), formats));
    ASSERT_EQ(1, formats.GetSize());
    EXPECT_EQ(42, formats[0].AvgTimePerFrame);
}

namespace {

// Counts the task memory allocated while it is registered and not yet freed. It lives for the whole
// run and is never deleted through the interface.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class CTaskMemorySpy : public IMallocSpy {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IMallocSpy) {
            *ppv = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cbRequest) override { return cbRequest; }
    STDMETHODIMP_(void*) PostAlloc(void* pActual) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (pActual) {
            m_live.insert(pActual);
            ++m_allocated;
        }
        return pActual;
    }
    STDMETHODIMP_(void*) PreFree(void* pRequest, BOOL) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_live.erase(pRequest);
        return pRequest;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_live.erase(pRequest);
        *ppNewRequest = pRequest;
        return cbRequest;
    }
    STDMETHODIMP_(void*) PostRealloc(void* pActual, BOOL) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (pActual)
            m_live.insert(pActual);
        return pActual;
    }
    STDMETHODIMP_(void*) PreGetSize(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    size_t Live() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_live.size();
    }
    size_t Allocated() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_allocated;
    }

private:
    size_t m_allocated = 0;
    std::mutex m_mutex;
    std::set<void*> m_live;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// Registered for the whole run: the platform may keep a spy until the last block it saw is freed.
CTaskMemorySpy g_spy;

} // namespace

TEST_F(VideoDevicesTest, MediaTypesReadFromTheDeviceAreFreed) {
    const CListedTestCamera mixed(0, L"Zarvex Mixed Camera", L"Zarvex Mixed", TESTCAM_CAPABILITIES_MIXED);
    ASSERT_EQ(S_OK, mixed.Result());
    ComPtr<IBaseFilter> device = FindVideoDevice(CString("Zarvex Mixed Camera"));
    ASSERT_TRUE(device);
    ASSERT_EQ(S_OK, CoRegisterMallocSpy(&g_spy));
    const size_t before = g_spy.Live();
    const size_t allocatedBefore = g_spy.Allocated();
    for (int i = 0; i < 20; ++i) {
        CVideoFormatArray formats;
        EXPECT_EQ(5, EnumVideoFormats(device.Get(), formats));
    }
    const size_t after = g_spy.Live();
    const size_t allocated = g_spy.Allocated() - allocatedBefore;
    (void)CoRevokeMallocSpy(); // refused while blocks it saw are alive; then it goes with them
    // Nine capabilities handed out, each a media type and most with a format block, twenty times.
    EXPECT_GE(allocated, 20u * 9u) << "the spy saw no media types: it did not watch the task allocator";
    EXPECT_EQ(before, after) << (after - before) << " blocks of task memory left behind";
}
