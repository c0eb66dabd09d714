// A filter of the framework made in the test's own process, through its CreateInstance rather than
// through COM, so that the test can reach the object behind the interface.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <wrl/client.h>

#include "Unknown.h"

// A new in-process filter of class TFilter, held by its IBaseFilter; the object itself through
// ppObject.
template <typename TFilter>
Microsoft::WRL::ComPtr<IBaseFilter> CreateInProcessFilter(TFilter** ppObject = nullptr) {
    HRESULT hr = S_OK;
    CUnknown* pObj = TFilter::CreateInstance(nullptr, &hr);
    if (!pObj || FAILED(hr)) {
        delete pObj;
        return nullptr;
    }
    Microsoft::WRL::ComPtr<IBaseFilter> filter;
    pObj->NonDelegatingAddRef();
    (void)pObj->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf()));
    pObj->NonDelegatingRelease();
    if (ppObject)
        *ppObject = static_cast<TFilter*>(pObj);
    return filter;
}
