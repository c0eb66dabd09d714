// CBasePropertyPage: the platform's IPropertyPage contract over a dialog resource of the module.
//
// A derived page overrides the On* hooks: OnConnect/OnDisconnect when the page is given or loses
// the object it edits, OnActivate/OnDeactivate around the dialog's life, OnApplyChanges when the
// site applies, and OnReceiveMessage for the dialog's messages (ending with this class's handler).
//
// Threading: all calls come on the thread of the application that shows the page (its UI thread).
#pragma once

#include "DShowHeaders.h"

#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include "Unknown.h"

COM_CLASSES_BEGIN
class CBasePropertyPage : public CUnknown, public IPropertyPage {
public:
    CBasePropertyPage(const wchar_t* pName, LPUNKNOWN pUnk, int DialogId, int TitleId);
    ~CBasePropertyPage() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // At 0, lets go of the page site and the objects before deleting itself, so a site that is
    // still set is not leaked and the derived page sees its OnDisconnect.
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

    // IPropertyPage
    STDMETHODIMP SetPageSite(LPPROPERTYPAGESITE pPageSite) override;
    STDMETHODIMP Activate(HWND hwndParent, LPCRECT prect, BOOL fModal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(LPPROPPAGEINFO pPageInfo) override;
    STDMETHODIMP SetObjects(ULONG cObjects, LPUNKNOWN* ppUnk) override;
    STDMETHODIMP Show(UINT nCmdShow) override;
    STDMETHODIMP Move(LPCRECT prect) override;
    STDMETHODIMP IsPageDirty() override;
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCWSTR lpszHelpDir) override;
    STDMETHODIMP TranslateAccelerator(LPMSG lpMsg) override;

    virtual HRESULT OnConnect(IUnknown* pUnknown);
    virtual HRESULT OnDisconnect();
    virtual HRESULT OnActivate();
    virtual HRESULT OnDeactivate();
    virtual HRESULT OnApplyChanges();
    virtual INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    HWND Window() const { return m_hwnd; }
    BOOL IsDirty() const { return m_bDirty; }

protected:
    HWND m_hwnd = nullptr;
    Microsoft::WRL::ComPtr<IPropertyPageSite> m_pPageSite;
    BOOL m_bDirty = FALSE;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK MeasureProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    const int m_DialogId;
    const int m_TitleId;
    BOOL m_bObjectSet = FALSE;
    BOOL m_bClearingControlParent = FALSE;
};
COM_CLASSES_END
