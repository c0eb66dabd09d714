#include "ZarvexProp.h"

#include <cwchar>
#include <new>

#include "Log.h"
#include "ResolutionTable.h"
#include "resource.h"

CUnknown* CALLBACK CZarvexProp::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CZarvexProp* pPage = new (std::nothrow) CZarvexProp(pUnk);
    if (!pPage && phr)
        *phr = E_OUTOFMEMORY;
    return pPage;
}

CZarvexProp::CZarvexProp(LPUNKNOWN pUnk)
    : CBasePropertyPage(L"Zarvex Property", pUnk, IDD_ZARVEX_PROP, IDS_ZARVEX_PROP_TITLE) {}

HRESULT CZarvexProp::OnConnect(IUnknown* pUnknown) {
    if (!pUnknown)
        return E_POINTER;
    // A second object replaces the first rather than leaking it.
    return pUnknown->QueryInterface(IID_IZarvexSettings,
                                    reinterpret_cast<void**>(m_pSettings.ReleaseAndGetAddressOf()));
}

HRESULT CZarvexProp::OnDisconnect() {
    m_pSettings.Reset();
    return S_OK;
}

HRESULT CZarvexProp::OnActivate() {
    int size[2] = {0, 0};
    double fps = 0;
    if (m_pSettings) {
        (void)LOG_IF_FAILED(m_pSettings->GetSize(size));      // zeros select the first entry
        (void)LOG_IF_FAILED(m_pSettings->GetFrameRate(&fps)); // and show a rate of 0
    }

    // The list is sorted, and these texts sort in table order, so a position is a table index.
    HWND hList = GetDlgItem(m_hwnd, IDC_RESOLUTION);
    SendMessageW(hList, CB_RESETCONTENT, 0, 0);
    int selected = 0;
    for (int i = 0; i < kResolutionCount; ++i) {
        wchar_t text[32];
        std::swprintf(text, 32, L"%dx%d", ResolutionTable[i].width, ResolutionTable[i].height);
        SendMessageW(hList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        if (ResolutionTable[i].width == size[0] && ResolutionTable[i].height == size[1])
            selected = i;
    }
    SendMessageW(hList, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);

    wchar_t rate[64];
    std::swprintf(rate, 64, L"%g", fps);
    SetDlgItemTextW(m_hwnd, IDC_FRAMERATE, rate);
    return S_OK;
}

HRESULT CZarvexProp::OnDeactivate() {
    return S_OK;
}

HRESULT CZarvexProp::OnApplyChanges() {
    if (!m_pSettings)
        return E_UNEXPECTED;
    // The rate in force stays when the text does not parse.
    double fps = 0;
    (void)LOG_IF_FAILED(m_pSettings->GetFrameRate(&fps)); // cannot fail with a pointer

    // Size before rate: the rebuilt format carries the previous frame time, the pin paces at the new.
    const LRESULT position = SendDlgItemMessageW(m_hwnd, IDC_RESOLUTION, CB_GETCURSEL, 0, 0);
    if (position >= 0 && position < kResolutionCount)
        (void)LOG_IF_FAILED(
            m_pSettings->SetSelectPixel(static_cast<int>(position))); // in range: cannot be refused

    wchar_t text[257] = {};
    GetDlgItemTextW(m_hwnd, IDC_FRAMERATE, text, 257);
    double parsed = 0;
    if (std::swscanf(text, L"%lf", &parsed) == 1)
        fps = parsed;
    if (fps < 1)
        fps = 1;
    if (fps > 30)
        fps = 30;
    (void)LOG_IF_FAILED(m_pSettings->SetFrameRate(fps)); // always S_OK
    return S_OK;
}

INT_PTR CZarvexProp::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_COMMAND && (LOWORD(wParam) == IDC_RESOLUTION || LOWORD(wParam) == IDC_FRAMERATE)) {
        m_bDirty = TRUE;
        if (m_pPageSite)
            (void)LOG_IF_FAILED(
                m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY)); // the site's answer changes nothing here
    }
    return CBasePropertyPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}
