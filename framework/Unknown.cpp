#include "Unknown.h"

CUnknown::CUnknown(const wchar_t* pName, LPUNKNOWN pUnk)
    : CBaseObject(pName), m_pUnknown(pUnk ? pUnk : NonDelegatingUnknown()) {}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown)
        return GetInterface(NonDelegatingUnknown(), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
    const LONG lRef = InterlockedIncrement(&m_cRef);
    return static_cast<ULONG>(lRef > 1 ? lRef : 1);
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
    const LONG lRef = InterlockedDecrement(&m_cRef);
    if (lRef == 0) {
        // Back to 1 while the destructor runs: anything it does that takes and drops a reference
        // (a pin releasing its filter, a base class querying an interface) must not reach 0 again
        // and delete the object a second time.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(lRef > 1 ? lRef : 1);
}

HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = pUnk;
    pUnk->AddRef();
    return S_OK;
}
