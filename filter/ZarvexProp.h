// CZarvexProp: the virtual camera's property page (dialog 101): the output size and the frame rate,
// applied through the pin's IZarvexSettings, which keeps them in the registry.
//
// Threading: every call comes on the thread of the application that shows the page.
#pragma once

#include <wrl/client.h>

#include "BasePropertyPage.h"
#include "ZarvexSettings.h"

COM_CLASSES_BEGIN
class CZarvexProp : public CBasePropertyPage {
public:
    // The factory's creation function.
    static CUnknown* CALLBACK CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    HRESULT OnConnect(IUnknown* pUnknown) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

private:
    explicit CZarvexProp(LPUNKNOWN pUnk);

    Microsoft::WRL::ComPtr<IZarvexSettings> m_pSettings;
};
COM_CLASSES_END
