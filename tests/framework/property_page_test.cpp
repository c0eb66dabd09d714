// CBasePropertyPage: the page-site and object rules, the dialog's life, dirty/apply, page info,
// and the release rule that lets go of the site. Needs the bench's display.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "BasePropertyPage.h"
#include "FilterModule.h"
#include "FrameworkTestUtil.h"
#include "page_site.h"

namespace {

int g_pageDisconnects = 0; // survives the page, for the final-release case

// A page over dialog 101 of the test executable that records what the framework calls.
COM_CLASSES_BEGIN
class CTestPage : public CBasePropertyPage {
public:
    explicit CTestPage(int* pDestroyed)
        : CBasePropertyPage(L"Test page", nullptr, 101, 1), m_pDestroyed(pDestroyed) {}
    ~CTestPage() override { ++*m_pDestroyed; }

    HRESULT OnConnect(IUnknown* pUnknown) override {
        ++connects;
        connected = pUnknown;
        return S_OK;
    }
    HRESULT OnDisconnect() override {
        ++disconnects;
        ++g_pageDisconnects;
        connected = nullptr;
        return S_OK;
    }
    HRESULT OnActivate() override {
        ++activates;
        return S_OK;
    }
    HRESULT OnApplyChanges() override {
        ++applies;
        return applyResult;
    }
    void MakeDirty() { m_bDirty = TRUE; }

    int connects = 0, disconnects = 0, activates = 0, applies = 0;
    IUnknown* connected = nullptr;
    HRESULT applyResult = S_OK;

private:
    int* m_pDestroyed;
};
COM_CLASSES_END

class PropertyPageTest : public testing::Test {
protected:
    void SetUp() override {
        // The dialog resource lives in this executable; a filter module would have DllMain set it.
        CFilterModule::SetInstance(GetModuleHandleW(nullptr));
        m_parent = CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                   nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, m_parent) << "no display: the bench provides one (Xvfb)";
        m_page = new CTestPage(&m_destroyed);
        m_page->NonDelegatingAddRef();
        m_pp = static_cast<IPropertyPage*>(m_page);
    }
    void TearDown() override {
        if (m_page) {
            EXPECT_EQ(0u, m_page->NonDelegatingRelease());
        }
        EXPECT_EQ(1, m_destroyed);
        EXPECT_EQ(1, m_site.refs);
        if (m_parent)
            DestroyWindow(m_parent);
        CFilterModule::SetInstance(nullptr);
    }

    win::ComScope m_com;
    HWND m_parent = nullptr;
    int m_destroyed = 0;
    CTestPage* m_page = nullptr;
    IPropertyPage* m_pp = nullptr;
    CFakePageSite m_site;
    CFakePageSite m_object; // anything with an IUnknown stands in for the filter
};

} // namespace

TEST_F(PropertyPageTest, PageSiteIsSetOnceAndClearedOnce) {
    EXPECT_EQ(E_UNEXPECTED, m_pp->SetPageSite(nullptr));
    EXPECT_EQ(S_OK, m_pp->SetPageSite(&m_site));
    EXPECT_EQ(2, m_site.refs);
    CFakePageSite other;
    EXPECT_EQ(E_UNEXPECTED, m_pp->SetPageSite(&other));
    EXPECT_EQ(1, other.refs);
    EXPECT_EQ(S_OK, m_pp->SetPageSite(nullptr));
    EXPECT_EQ(1, m_site.refs);
}

TEST_F(PropertyPageTest, ObjectsAreOneOrNone) {
    IUnknown* objects[2] = {&m_object, &m_object};
    EXPECT_EQ(E_POINTER, m_pp->SetObjects(1, nullptr));
    IUnknown* none[1] = {nullptr};
    EXPECT_EQ(E_POINTER, m_pp->SetObjects(1, none));
    EXPECT_EQ(E_UNEXPECTED, m_pp->SetObjects(2, objects));
    EXPECT_EQ(0, m_page->connects);
    EXPECT_EQ(S_OK, m_pp->SetObjects(1, objects));
    EXPECT_EQ(1, m_page->connects);
    EXPECT_EQ(&m_object, m_page->connected);
    EXPECT_EQ(S_OK, m_pp->SetObjects(0, nullptr));
    EXPECT_EQ(1, m_page->disconnects);
}

TEST_F(PropertyPageTest, DialogLivesFromActivateToDeactivate) {
    RECT rc = {10, 20, 310, 170};
    EXPECT_EQ(E_UNEXPECTED, m_pp->Activate(m_parent, &rc, FALSE)) << "no object yet";
    IUnknown* objects[1] = {&m_object};
    ASSERT_EQ(S_OK, m_pp->SetObjects(1, objects));
    EXPECT_EQ(E_POINTER, m_pp->Activate(m_parent, nullptr, FALSE));
    EXPECT_EQ(E_UNEXPECTED, m_pp->Show(SW_SHOW)) << "no window yet";
    EXPECT_EQ(E_UNEXPECTED, m_pp->Move(&rc));

    ASSERT_EQ(S_OK, m_pp->Activate(m_parent, &rc, FALSE));
    HWND hwnd = m_page->Window();
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(1, m_page->activates);
    EXPECT_TRUE(IsWindowVisible(hwnd) || !IsWindowVisible(m_parent)) << "shown within its parent";
    RECT placed = {};
    GetWindowRect(hwnd, &placed);
    MapWindowPoints(nullptr, m_parent, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(10, placed.left);
    EXPECT_EQ(300, placed.right - placed.left);
    EXPECT_EQ(E_UNEXPECTED, m_pp->Activate(m_parent, &rc, FALSE)) << "already has a window";

    EXPECT_EQ(E_INVALIDARG, m_pp->Show(SW_MAXIMIZE));
    EXPECT_EQ(S_OK, m_pp->Show(SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(hwnd));

    // The page stays a control parent whatever its frame does to its extended style.
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, 0);
    EXPECT_NE(0, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);

    EXPECT_EQ(S_OK, m_pp->Deactivate());
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(E_UNEXPECTED, m_pp->Deactivate());
    EXPECT_EQ(S_OK, m_pp->SetObjects(0, nullptr));
}

TEST_F(PropertyPageTest, ApplyRunsOnlyForADirtyPageWithSiteAndObject) {
    EXPECT_EQ(S_FALSE, m_pp->IsPageDirty());
    EXPECT_EQ(E_UNEXPECTED, m_pp->Apply()) << "no object, no site";
    IUnknown* objects[1] = {&m_object};
    ASSERT_EQ(S_OK, m_pp->SetObjects(1, objects));
    EXPECT_EQ(E_UNEXPECTED, m_pp->Apply()) << "no site";
    ASSERT_EQ(S_OK, m_pp->SetPageSite(&m_site));
    EXPECT_EQ(S_OK, m_pp->Apply());
    EXPECT_EQ(0, m_page->applies) << "nothing to apply";

    m_page->MakeDirty();
    EXPECT_EQ(S_OK, m_pp->IsPageDirty());
    m_page->applyResult = E_FAIL;
    EXPECT_EQ(E_FAIL, m_pp->Apply());
    EXPECT_EQ(S_OK, m_pp->IsPageDirty()) << "a failed apply keeps the changes pending";
    m_page->applyResult = S_OK;
    EXPECT_EQ(S_OK, m_pp->Apply());
    EXPECT_EQ(2, m_page->applies);
    EXPECT_EQ(S_FALSE, m_pp->IsPageDirty());
    EXPECT_EQ(E_NOTIMPL, m_pp->Help(nullptr));
    EXPECT_EQ(E_NOTIMPL, m_pp->TranslateAccelerator(nullptr));
}

TEST_F(PropertyPageTest, PageInfoGivesTitleAndDialogSize) {
    PROPPAGEINFO info;
    std::memset(&info, 0xCD, sizeof(info));
    ASSERT_EQ(S_OK, m_pp->GetPageInfo(&info));
    EXPECT_EQ(sizeof(PROPPAGEINFO), info.cb);
    ASSERT_NE(nullptr, info.pszTitle);
    EXPECT_STREQ(L"Test Page", info.pszTitle);
    EXPECT_EQ(nullptr, info.pszHelpFile);
    EXPECT_EQ(nullptr, info.pszDocString);
    EXPECT_EQ(0u, info.dwHelpContext);
    // 171 x 64 dialog units: wider than tall, and not the fallback.
    EXPECT_GT(info.size.cx, info.size.cy);
    EXPECT_GT(info.size.cy, 0);
    EXPECT_FALSE(info.size.cx == 340 && info.size.cy == 150);
    CoTaskMemFree(info.pszTitle);
    EXPECT_EQ(E_POINTER, m_pp->GetPageInfo(nullptr));
}

TEST_F(PropertyPageTest, FinalReleaseLetsGoOfSiteAndObjects) {
    ASSERT_EQ(S_OK, m_pp->SetPageSite(&m_site));
    IUnknown* objects[1] = {&m_object};
    ASSERT_EQ(S_OK, m_pp->SetObjects(1, objects));
    EXPECT_EQ(2, m_site.refs);
    CTestPage* page = m_page;
    m_page = nullptr;
    const int disconnectsBefore = g_pageDisconnects;
    EXPECT_EQ(0u, page->NonDelegatingRelease());
    EXPECT_EQ(1, m_destroyed);
    EXPECT_EQ(1, m_site.refs) << "the site reference was returned";
    EXPECT_EQ(disconnectsBefore + 1, g_pageDisconnects) << "the page saw its objects cleared";
}
