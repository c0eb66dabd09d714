#include "EnumMediaTypes.h"

#include <new>

#include "BasePin.h"

CEnumMediaTypes* CEnumMediaTypes::Create(CBasePin* pPin, const CEnumMediaTypes* pCopy) {
    return new (std::nothrow) CEnumMediaTypes(pPin, pCopy);
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pCopy)
    : CBaseObject(L"Media type enumerator"), m_pPin(pPin) {
    if (pCopy) {
        m_Position = pCopy->m_Position;
        m_Version = pCopy->m_Version;
    } else {
        m_Version = pPin->GetMediaTypeVersion();
    }
}

CEnumMediaTypes::~CEnumMediaTypes() = default;

STDMETHODIMP CEnumMediaTypes::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes)
        return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumMediaTypes::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CEnumMediaTypes::Release() {
    const LONG lRef = InterlockedDecrement(&m_cRef);
    if (lRef == 0)
        delete this;
    return static_cast<ULONG>(lRef);
}

BOOL CEnumMediaTypes::AreWeOutOfSync() const {
    return m_pPin->GetMediaTypeVersion() != m_Version;
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) {
    if (!ppMediaTypes)
        return E_POINTER;
    if (!pcFetched && cMediaTypes > 1)
        return E_INVALIDARG;
    if (pcFetched)
        *pcFetched = 0;
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;

    ULONG cFetched = 0;
    while (cFetched < cMediaTypes) {
        CMediaType mt;
        if (m_pPin->GetMediaType(m_Position, &mt) != S_OK)
            break;
        AM_MEDIA_TYPE* pCopy = CreateMediaType(&mt);
        if (!pCopy)
            break; // out of memory: hand out what we have; the position stays for a retry
        ++m_Position;
        ppMediaTypes[cFetched++] = pCopy;
    }
    if (pcFetched)
        *pcFetched = cFetched;
    return cFetched == cMediaTypes ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG cMediaTypes) {
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    if (cMediaTypes == 0)
        return S_OK;
    m_Position += static_cast<int>(cMediaTypes);
    CMediaType mt;
    return m_pPin->GetMediaType(m_Position - 1, &mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
    m_Position = 0;
    m_Version = m_pPin->GetMediaTypeVersion();
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    CEnumMediaTypes* pClone = Create(m_pPin.Get(), this);
    if (!pClone)
        return E_OUTOFMEMORY;
    *ppEnum = pClone;
    return S_OK;
}
