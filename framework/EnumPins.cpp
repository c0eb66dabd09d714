#include "EnumPins.h"

#include <algorithm>
#include <new>

#include "BaseFilter.h"
#include "BasePin.h"

CEnumPins* CEnumPins::Create(CBaseFilter* pFilter, const CEnumPins* pCopy) {
    try {
        return new CEnumPins(pFilter, pCopy);
    } catch (...) {
        return nullptr; // the pin cache could not be copied
    }
}

CEnumPins::CEnumPins(CBaseFilter* pFilter, const CEnumPins* pCopy)
    : CBaseObject(L"Pin enumerator"), m_pFilter(pFilter) {
    if (pCopy) {
        m_Position = pCopy->m_Position;
        m_PinCount = pCopy->m_PinCount;
        m_Version = pCopy->m_Version;
        m_PinCache = pCopy->m_PinCache;
    } else {
        m_PinCount = pFilter->GetPinCount();
        m_Version = pFilter->GetPinVersion();
    }
}

CEnumPins::~CEnumPins() = default;

STDMETHODIMP CEnumPins::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IEnumPins)
        return GetInterface(static_cast<IEnumPins*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumPins::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CEnumPins::Release() {
    const LONG lRef = InterlockedDecrement(&m_cRef);
    if (lRef == 0)
        delete this;
    return static_cast<ULONG>(lRef);
}

BOOL CEnumPins::AreWeOutOfSync() const {
    return m_pFilter->GetPinVersion() != m_Version;
}

void CEnumPins::Refresh() {
    m_Version = m_pFilter->GetPinVersion();
    m_PinCount = m_pFilter->GetPinCount();
    m_Position = 0;
}

STDMETHODIMP CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
    if (!ppPins)
        return E_POINTER;
    if (!pcFetched && cPins > 1)
        return E_INVALIDARG;
    if (AreWeOutOfSync())
        Refresh(); // start over; the cache keeps pins already given from coming out twice

    ULONG cFetched = 0;
    try {
        while (cFetched < cPins && m_Position < m_PinCount) {
            CBasePin* pPin = m_pFilter->GetPin(m_Position++);
            if (!pPin)
                break; // the filter lost pins since the count was taken
            if (std::find(m_PinCache.begin(), m_PinCache.end(), pPin) != m_PinCache.end())
                continue;
            m_PinCache.push_back(pPin);
            ppPins[cFetched++] = pPin;
            pPin->AddRef();
        }
    } catch (...) {
        // The cache could not grow; what was fetched so far is still handed out.
    }
    if (pcFetched)
        *pcFetched = cFetched;
    return cFetched == cPins ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG cPins) {
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    const ULONG remaining = static_cast<ULONG>(m_PinCount - m_Position);
    if (cPins > remaining)
        return S_FALSE;
    m_Position += static_cast<int>(cPins);
    return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
    Refresh();
    m_PinCache.clear();
    return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    CEnumPins* pClone = Create(m_pFilter.Get(), this);
    if (!pClone)
        return E_OUTOFMEMORY;
    *ppEnum = pClone;
    return S_OK;
}
