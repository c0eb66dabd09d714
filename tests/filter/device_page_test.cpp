// The property page of ZarvexDevice.ax on a filter of the same module, activated in a real window
// under the bench's display: what it lists and shows, and what applying it stores and paints.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_test_util.h"
#include "module_library.h"
#include "page_site.h"

namespace {

std::wstring WindowText(HWND hwnd) {
    wchar_t text[256] = {};
    GetWindowTextW(hwnd, text, 256);
    return text;
}

class DevicePageTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        ASSERT_FALSE(ChannelExists()) << "a frame channel is left over from another program";
        ASSERT_TRUE(m_module.Loaded());
        m_settings.Clear();
        m_frame = CreateWindowExW(0, L"STATIC", L"Properties", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 420,
                                  260, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, m_frame) << "no display: the bench provides one (Xvfb)";
        m_filter = Create<IBaseFilter>(CLSID_ZarvexDevice);
        m_page = Create<IPropertyPage>(CLSID_ZarvexProp);
        ASSERT_TRUE(m_filter && m_page);
        ASSERT_EQ(S_OK, m_page->SetPageSite(&m_site));
        IUnknown* objects[1] = {m_filter.Get()};
        ASSERT_EQ(S_OK, m_page->SetObjects(1, objects));
    }
    void TearDown() override {
        if (m_page) {
            (void)m_page->Deactivate(); // E_UNEXPECTED when the test already did
            EXPECT_EQ(S_OK, m_page->SetObjects(0, nullptr));
            EXPECT_EQ(S_OK, m_page->SetPageSite(nullptr));
            EXPECT_EQ(0u, FinalRelease(m_page));
        }
        EXPECT_EQ(1, m_site.refs);
        if (m_filter) {
            EXPECT_EQ(0u, FinalRelease(m_filter));
        }
        if (m_frame)
            DestroyWindow(m_frame);
    }
    template <typename T> ComPtr<T> Create(REFCLSID clsid) { return CreateFromModule<T>(m_module, clsid); }
    // Activates the page in the frame; its dialog window.
    HWND Activate() {
        RECT rc = {8, 8, 400, 200};
        EXPECT_EQ(S_OK, m_page->Activate(m_frame, &rc, FALSE));
        HWND hwnd = FindWindowExW(m_frame, nullptr, nullptr, nullptr);
        EXPECT_TRUE(IsWindow(hwnd));
        return hwnd;
    }
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    win::ComScope m_com;
    CModuleLibrary m_module{L"ZarvexDevice.ax"};
    CSavedFilterSettings m_settings;
    HWND m_frame = nullptr;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPropertyPage> m_page;
    CFakePageSite m_site;
};

} // namespace

TEST_F(DevicePageTest, ListsTheSevenSizesInTableOrderAndShowsTheRate) {
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, m_page->GetPageInfo(&info));
    EXPECT_EQ(sizeof(PROPPAGEINFO), info.cb);
    EXPECT_STREQ(L"Zarvex", info.pszTitle);
    EXPECT_GT(info.size.cx, 0);
    EXPECT_GT(info.size.cy, 0);
    CoTaskMemFree(info.pszTitle);

    HWND hwnd = Activate();
    ASSERT_TRUE(IsWindow(hwnd));
    Pump();
    HWND list = GetDlgItem(hwnd, 1001);
    ASSERT_NE(nullptr, list);
    const wchar_t* expected[] = {L"160x120", L"320x180", L"320x240", L"512x288",
                                 L"512x384", L"640x360", L"640x480"};
    ASSERT_EQ(7, SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < 7; ++i) {
        wchar_t text[32] = {};
        SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        EXPECT_STREQ(expected[i], text) << "position " << i;
    }
    EXPECT_EQ(0, SendMessageW(list, CB_GETCURSEL, 0, 0)) << "160 x 120 is current";
    EXPECT_EQ(L"30", WindowText(GetDlgItem(hwnd, 1002))) << "333333 shown with %g";

    // The labels are the system's own Japanese texts.
    std::vector<std::wstring> labels;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        GetClassNameW(child, cls, 32);
        if (lstrcmpiW(cls, L"Static") == 0)
            labels.push_back(WindowText(child));
    }
    ASSERT_EQ(2u, labels.size());
    EXPECT_EQ(L"\u89e3\u50cf\u5ea6", labels[0]);
    EXPECT_EQ(L"\u30d5\u30ec\u30fc\u30e0\u30ec\u30fc\u30c8", labels[1]);
    EXPECT_EQ(S_OK, m_page->Deactivate());
    EXPECT_FALSE(IsWindow(hwnd));
}

// Choosing 640x480 and applying with no capture program running: the registry holds "6" and the
// channel holds the placeholder painted at 640 x 480.
TEST_F(DevicePageTest, ApplyingAChosenSizeStoresItAndPaintsThePlaceholderAtThatSize) {
    HWND hwnd = Activate();
    ASSERT_TRUE(IsWindow(hwnd));
    Pump();
    m_site.changes.clear();
    HWND list = GetDlgItem(hwnd, 1001);
    SendMessageW(list, CB_SETCURSEL, 6, 0);
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(1001, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(S_OK, m_page->IsPageDirty());
    ASSERT_FALSE(m_site.changes.empty());
    EXPECT_EQ(DWORD{PROPPAGESTATUS_DIRTY}, m_site.changes.back());

    ASSERT_EQ(S_OK, m_page->Apply());
    EXPECT_EQ(S_FALSE, m_page->IsPageDirty());
    EXPECT_EQ("6", CSavedFilterSettings::Read(CFilterSettings::kSelectPixelValue));
    EXPECT_EQ("333333", CSavedFilterSettings::Read(CFilterSettings::kFrameTimeValue));
    ComPtr<IZarvexSettings> settings;
    ASSERT_EQ(S_OK, m_filter.As(&settings));
    int size[2] = {};
    EXPECT_EQ(S_OK, settings->GetSize(size));
    EXPECT_EQ(640, size[0]);
    EXPECT_EQ(480, size[1]);

    CChannelProbe probe;
    ASSERT_TRUE(probe.Open());
    std::unique_ptr<SharedFrameHeader> header = probe.Snapshot();
    ASSERT_TRUE(header);
    EXPECT_TRUE(header->dwFlags & kFrameReady);
    const PlaceholderLook look = LookAtPlaceholder(header->pixels, kChannelPixelBytes, 640, 480);
    EXPECT_TRUE(look.cornersBlack);
    EXPECT_GE(look.whiteNearCentre, 1000) << "the text at its full size, centred in 640 x 480";
}

TEST_F(DevicePageTest, TheRateTextIsClampedOrKept) {
    const struct {
        const wchar_t* text;
        const char* stored;
        const wchar_t* shownNext;
    } cases[] = {
        {L"60", "333333", L"30"},
        {L"0.5", "10000000", L"1"},
        {L"12", "833333", L"12"},
        {L"fast", "833333", L"12"}, // not a number: the rate shown before stays
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.stored));
        HWND hwnd = Activate();
        ASSERT_TRUE(IsWindow(hwnd));
        SetDlgItemTextW(hwnd, 1002, c.text); // its EN_CHANGE makes the page dirty
        EXPECT_EQ(S_OK, m_page->IsPageDirty());
        EXPECT_EQ(S_OK, m_page->Apply());
        EXPECT_EQ(c.stored, CSavedFilterSettings::Read(CFilterSettings::kFrameTimeValue));
        EXPECT_EQ(S_OK, m_page->Deactivate());
        hwnd = Activate();
        EXPECT_EQ(c.shownNext, WindowText(GetDlgItem(hwnd, 1002)));
        EXPECT_EQ(S_OK, m_page->Deactivate());
    }
}
