#include "PinCategory.h"

#include <cstring>

namespace {

HRESULT CheckPinCategoryProperty(REFGUID guidPropSet, DWORD dwPropID) {
    if (guidPropSet != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (dwPropID != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    return S_OK;
}

} // namespace

HRESULT GetPinCategoryProperty(REFGUID guidPropSet, DWORD dwPropID, LPVOID pPropData, DWORD cbPropData,
                               DWORD* pcbReturned, REFGUID category) {
    const HRESULT hr = CheckPinCategoryProperty(guidPropSet, dwPropID);
    if (FAILED(hr))
        return hr;
    if (!pPropData && !pcbReturned)
        return E_POINTER;
    if (pcbReturned)
        *pcbReturned = sizeof(GUID);
    if (!pPropData)
        return S_OK;
    if (cbPropData < sizeof(GUID))
        return E_UNEXPECTED;
    std::memcpy(pPropData, &category, sizeof(GUID)); // the caller's buffer need not be aligned
    return S_OK;
}

HRESULT QueryPinCategorySupport(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) {
    const HRESULT hr = CheckPinCategoryProperty(guidPropSet, dwPropID);
    if (FAILED(hr))
        return hr;
    if (pTypeSupport)
        *pTypeSupport = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}
