#include "ClassFactory.h"

#include <new>

#include "FilterModule.h"

CClassFactory::CClassFactory(const CFactoryTemplate* pTemplate)
    : CBaseObject(L"Class factory"), m_pTemplate(pTemplate) {}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory)
        return GetInterface(static_cast<IClassFactory*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CClassFactory::Release() {
    const LONG lRef = InterlockedDecrement(&m_cRef);
    if (lRef == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(lRef);
}

STDMETHODIMP CClassFactory::CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // An aggregated object must give its outer object the inner unknown, nothing else.
    if (pUnkOuter && riid != IID_IUnknown)
        return E_NOINTERFACE;

    HRESULT hr = S_OK;
    CUnknown* pObj = nullptr;
    try {
        pObj = m_pTemplate->CreateInstance(pUnkOuter, &hr);
    } catch (...) {
        // A creation function that throws (std::bad_alloc from a container) made nothing usable.
        pObj = nullptr;
        hr = E_OUTOFMEMORY;
    }
    if (!pObj)
        return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete pObj;
        return hr;
    }
    // Hold the object across the QueryInterface, so that an interface it refuses still leaves it
    // with one clean Release to 0 that deletes it.
    pObj->NonDelegatingAddRef();
    hr = pObj->NonDelegatingQueryInterface(riid, ppv);
    pObj->NonDelegatingRelease();
    return hr;
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock) {
    CFilterModule::LockServer(fLock);
    return S_OK;
}
