#include "BasePropertyPage.h"

#include <cstring>

#include "FilterModule.h"
#include "Log.h"

CBasePropertyPage::CBasePropertyPage(const wchar_t* pName, LPUNKNOWN pUnk, int DialogId, int TitleId)
    : CUnknown(pName, pUnk), m_DialogId(DialogId), m_TitleId(TitleId) {}

CBasePropertyPage::~CBasePropertyPage() {
    if (m_hwnd) {
        // Destroyed while still activated: the dialog must not outlive the object its procedure uses.
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        LOG_IF_WIN32_FALSE(DestroyWindow(m_hwnd));
        m_hwnd = nullptr;
    }
}

STDMETHODIMP CBasePropertyPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IPropertyPage)
        return GetInterface(static_cast<IPropertyPage*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePropertyPage::NonDelegatingRelease() {
    const LONG lRef = InterlockedDecrement(&m_cRef);
    if (lRef == 0) {
        m_cRef = 1; // what follows takes and drops references of its own
        if (m_pPageSite)
            (void)LOG_IF_FAILED(SetPageSite(nullptr));
        (void)LOG_IF_FAILED(SetObjects(0, nullptr));
        delete this;
        return 0;
    }
    return static_cast<ULONG>(lRef > 1 ? lRef : 1);
}

STDMETHODIMP CBasePropertyPage::SetPageSite(LPPROPERTYPAGESITE pPageSite) {
    if (pPageSite) {
        if (m_pPageSite)
            return E_UNEXPECTED;
        m_pPageSite = pPageSite;
    } else {
        if (!m_pPageSite)
            return E_UNEXPECTED;
        m_pPageSite.Reset();
    }
    return S_OK;
}

STDMETHODIMP CBasePropertyPage::Activate(HWND hwndParent, LPCRECT prect, BOOL /*fModal*/) {
    if (!prect)
        return E_POINTER;
    if (!m_bObjectSet || m_hwnd)
        return E_UNEXPECTED;
    HWND hwnd = CreateDialogParamW(CFilterModule::Instance(), MAKEINTRESOURCEW(m_DialogId), hwndParent,
                                   DialogProc, reinterpret_cast<LPARAM>(this));
    if (!hwnd)
        return E_OUTOFMEMORY;
    m_hwnd = hwnd;                     // WM_INITDIALOG set it already; this covers a template without one
    (void)LOG_IF_FAILED(OnActivate()); // the page shows whatever it could fill in
    (void)LOG_IF_FAILED(Move(prect));  // a window that exists can always be moved
    return Show(SW_SHOWNORMAL);
}

STDMETHODIMP CBasePropertyPage::Deactivate() {
    if (!m_hwnd)
        return E_UNEXPECTED;
    // Destroying a control-parent child can leave the dialog manager walking a dead window; take
    // the style off first. Our own handler keeps the style on otherwise, so let this change through.
    m_bClearingControlParent = TRUE;
    const LONG_PTR exStyle = GetWindowLongPtrW(m_hwnd, GWL_EXSTYLE);
    SetWindowLongPtrW(m_hwnd, GWL_EXSTYLE, exStyle & ~static_cast<LONG_PTR>(WS_EX_CONTROLPARENT));
    m_bClearingControlParent = FALSE;
    (void)LOG_IF_FAILED(OnDeactivate()); // the window goes either way
    SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
    LOG_IF_WIN32_FALSE(DestroyWindow(m_hwnd));
    m_hwnd = nullptr;
    return S_OK;
}

INT_PTR CALLBACK CBasePropertyPage::MeasureProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

STDMETHODIMP CBasePropertyPage::GetPageInfo(LPPROPPAGEINFO pPageInfo) {
    if (!pPageInfo)
        return E_POINTER;
    WCHAR szTitle[256] = {};
    const int cch = LoadStringW(CFilterModule::Instance(), static_cast<UINT>(m_TitleId), szTitle, 256);
    const size_t cb = (static_cast<size_t>(cch > 0 ? cch : 0) + 1) * sizeof(WCHAR);
    LPOLESTR pTitle = static_cast<LPOLESTR>(CoTaskMemAlloc(cb));
    if (!pTitle)
        return E_OUTOFMEMORY;
    std::memcpy(pTitle, szTitle, cb);
    pTitle[cb / sizeof(WCHAR) - 1] = L'\0';

    // The size the dialog template asks for, in pixels: make it once, hidden, and measure it.
    SIZE size = {340, 150};
    HWND hwnd = CreateDialogParamW(CFilterModule::Instance(), MAKEINTRESOURCEW(m_DialogId),
                                   GetDesktopWindow(), MeasureProc, 0);
    if (hwnd) {
        RECT rc = {};
        GetWindowRect(hwnd, &rc);
        size.cx = rc.right - rc.left;
        size.cy = rc.bottom - rc.top;
        DestroyWindow(hwnd);
    }

    pPageInfo->cb = sizeof(PROPPAGEINFO);
    pPageInfo->pszTitle = pTitle;
    pPageInfo->size = size;
    pPageInfo->pszDocString = nullptr;
    pPageInfo->pszHelpFile = nullptr;
    pPageInfo->dwHelpContext = 0;
    return S_OK;
}

STDMETHODIMP CBasePropertyPage::SetObjects(ULONG cObjects, LPUNKNOWN* ppUnk) {
    if (cObjects == 1) {
        if (!ppUnk || !ppUnk[0])
            return E_POINTER;
        m_bObjectSet = TRUE;
        return OnConnect(ppUnk[0]);
    }
    if (cObjects == 0) {
        m_bObjectSet = FALSE;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

STDMETHODIMP CBasePropertyPage::Show(UINT nCmdShow) {
    if (!m_hwnd)
        return E_UNEXPECTED;
    if (nCmdShow != SW_HIDE && nCmdShow != SW_SHOW && nCmdShow != SW_SHOWNORMAL)
        return E_INVALIDARG;
    ShowWindow(m_hwnd, static_cast<int>(nCmdShow));
    InvalidateRect(m_hwnd, nullptr, TRUE);
    return S_OK;
}

STDMETHODIMP CBasePropertyPage::Move(LPCRECT prect) {
    if (!prect)
        return E_POINTER;
    if (!m_hwnd)
        return E_UNEXPECTED;
    MoveWindow(m_hwnd, prect->left, prect->top, prect->right - prect->left, prect->bottom - prect->top, TRUE);
    return S_OK;
}

STDMETHODIMP CBasePropertyPage::IsPageDirty() {
    return m_bDirty ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePropertyPage::Apply() {
    if (!m_bObjectSet || !m_pPageSite)
        return E_UNEXPECTED;
    if (!m_bDirty)
        return S_OK;
    const HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr))
        m_bDirty = FALSE;
    return hr;
}

STDMETHODIMP CBasePropertyPage::Help(LPCWSTR /*lpszHelpDir*/) {
    return E_NOTIMPL;
}

STDMETHODIMP CBasePropertyPage::TranslateAccelerator(LPMSG /*lpMsg*/) {
    return E_NOTIMPL;
}

HRESULT CBasePropertyPage::OnConnect(IUnknown* /*pUnknown*/) {
    return S_OK;
}

HRESULT CBasePropertyPage::OnDisconnect() {
    return S_OK;
}

HRESULT CBasePropertyPage::OnActivate() {
    return S_OK;
}

HRESULT CBasePropertyPage::OnDeactivate() {
    return S_OK;
}

HRESULT CBasePropertyPage::OnApplyChanges() {
    return S_OK;
}

INT_PTR CBasePropertyPage::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (m_hwnd && uMsg == WM_STYLECHANGING && wParam == static_cast<WPARAM>(GWL_EXSTYLE) &&
        !m_bClearingControlParent) {
        // Property frames tab into the page's controls only while it is a control parent.
        reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew |= WS_EX_CONTROLPARENT;
        return 0;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, lParam);
        CBasePropertyPage* pPage = reinterpret_cast<CBasePropertyPage*>(lParam);
        if (pPage)
            pPage->m_hwnd = hwnd;
    }
    CBasePropertyPage* pPage = reinterpret_cast<CBasePropertyPage*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!pPage)
        return FALSE;
    try {
        return pPage->OnReceiveMessage(hwnd, uMsg, wParam, lParam);
    } catch (...) {
        return FALSE; // nothing may leave a window procedure
    }
}
