#include "BasePin.h"

#include <cstring>
#include <cwchar>

#include "BaseFilter.h"
#include "EnumMediaTypes.h"
#include "Log.h"

namespace {

// Codes that say only "not this type": the next candidate may still connect. Anything else says
// something about the peer itself and is worth reporting when no candidate connects.
bool IsTypeRefusal(HRESULT hr) {
    return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}

} // namespace

CBasePin::CBasePin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   const wchar_t* pName, PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr), m_dir(dir), m_pLock(pLock), m_pFilter(pFilter) {
    try {
        m_name = pName ? pName : L"";
    } catch (...) {
        if (phr)
            *phr = E_OUTOFMEMORY;
    }
}

// A pin still connected at destruction (its filter was released while in a graph's hands) lets go
// of its peer through m_Connected.
CBasePin::~CBasePin() = default;

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IPin)
        return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl)
        return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingAddRef() {
    return m_pFilter->AddRef();
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingRelease() {
    return m_pFilter->Release();
}

BOOL CBasePin::IsStopped() {
    return m_pFilter->IsStopped();
}

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (!pReceivePin)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive)
        return VFW_E_NOT_STOPPED;

    HRESULT hr = S_OK;
    if (!pmt)
        return AgreeMediaType(pReceivePin, nullptr);
    const CMediaType cmt(*pmt, &hr);
    if (FAILED(hr))
        return hr;
    return AgreeMediaType(pReceivePin, &cmt);
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
    if (pmt && !pmt->IsPartiallySpecified()) {
        const HRESULT hr = AttemptConnection(pReceivePin, pmt);
        if (SUCCEEDED(hr))
            return hr;
        return IsTypeRefusal(hr) ? VFW_E_NO_ACCEPTABLE_TYPES : hr;
    }

    HRESULT hrKept = S_OK;
    // The receiving pin's preferences first, then ours.
    for (int pass = 0; pass < 2; ++pass) {
        Microsoft::WRL::ComPtr<IEnumMediaTypes> pEnum;
        const HRESULT hrEnum = pass == 0 ? pReceivePin->EnumMediaTypes(pEnum.GetAddressOf())
                                         : EnumMediaTypes(pEnum.GetAddressOf());
        if (FAILED(hrEnum) || !pEnum)
            continue;
        const HRESULT hr = TryMediaTypes(pReceivePin, pmt, pEnum.Get(), &hrKept);
        if (SUCCEEDED(hr))
            return hr;
    }
    return FAILED(hrKept) ? hrKept : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum,
                                HRESULT* phrKept) {
    if (FAILED(pEnum->Reset()))
        return VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;) {
        AM_MEDIA_TYPE* pCandidate = nullptr;
        ULONG cFetched = 0;
        if (pEnum->Next(1, &pCandidate, &cFetched) != S_OK || cFetched != 1 || !pCandidate) {
            DeleteMediaType(pCandidate);
            return VFW_E_NO_ACCEPTABLE_TYPES;
        }
        HRESULT hrCopy = S_OK;
        const CMediaType candidate(*pCandidate, &hrCopy);
        DeleteMediaType(pCandidate);
        if (FAILED(hrCopy))
            return hrCopy;
        if (pmt && !candidate.MatchesPartial(pmt))
            continue;
        const HRESULT hr = AttemptConnection(pReceivePin, &candidate);
        if (SUCCEEDED(hr))
            return hr;
        if (!IsTypeRefusal(hr) && SUCCEEDED(*phrKept))
            *phrKept = hr;
    }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        (void)LOG_IF_FAILED(BreakConnect()); // undoing a half-made check; its own result adds nothing
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr != S_OK) {
        (void)LOG_IF_FAILED(BreakConnect());
        return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }

    m_Connected = pReceivePin;
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
        hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(pReceivePin);
            if (SUCCEEDED(hr))
                return hr;
            // The peer agreed but we could not finish (no allocator): it must forget us too.
            (void)LOG_IF_FAILED(pReceivePin->Disconnect());
        }
    }
    (void)LOG_IF_FAILED(BreakConnect());
    m_Connected.Reset();
    return hr;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (!pConnector || !pmt)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive)
        return VFW_E_NOT_STOPPED;

    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        (void)LOG_IF_FAILED(BreakConnect());
        return hr;
    }
    const CMediaType cmt(*pmt, &hr);
    if (SUCCEEDED(hr)) {
        hr = CheckMediaType(&cmt);
        if (hr != S_OK)
            hr = FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (FAILED(hr)) {
        (void)LOG_IF_FAILED(BreakConnect());
        return hr;
    }
    m_Connected = pConnector;
    hr = SetMediaType(&cmt);
    if (SUCCEEDED(hr))
        hr = CompleteConnect(pConnector);
    if (FAILED(hr)) {
        (void)LOG_IF_FAILED(BreakConnect());
        m_Connected.Reset();
    }
    return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    if (!m_Connected)
        return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr))
        return hr;
    m_Connected.Reset();
    return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** ppPin) {
    if (!ppPin)
        return E_POINTER;
    *ppPin = nullptr;
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected.CopyTo(ppPin);
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_Connected) {
        std::memset(pmt, 0, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
    if (!pInfo)
        return E_POINTER;
    pInfo->pFilter = m_pFilter;
    m_pFilter->AddRef();
    pInfo->dir = m_dir;
    const size_t cch = m_name.size() < MAX_PIN_NAME - 1 ? m_name.size() : MAX_PIN_NAME - 1;
    std::wmemcpy(pInfo->achName, m_name.c_str(), cch);
    pInfo->achName[cch] = L'\0';
    return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (!pPinDir)
        return E_POINTER;
    *pPinDir = m_dir;
    return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id) {
    if (!Id)
        return E_POINTER;
    const size_t cb = (m_name.size() + 1) * sizeof(wchar_t);
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(cb));
    if (!*Id)
        return E_OUTOFMEMORY;
    std::memcpy(*Id, m_name.c_str(), cb);
    return S_OK;
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return E_POINTER;
    HRESULT hr = S_OK;
    const CMediaType cmt(*pmt, &hr);
    if (FAILED(hr))
        return S_FALSE;
    return CheckMediaType(&cmt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = CEnumMediaTypes::Create(this, nullptr);
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin** /*apPin*/, ULONG* /*nPin*/) {
    return E_NOTIMPL;
}

STDMETHODIMP CBasePin::EndOfStream() {
    return S_OK;
}

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter* /*pSender*/, Quality /*q*/) {
    return E_NOTIMPL;
}

STDMETHODIMP CBasePin::SetSink(IQualityControl* piqc) {
    CAutoLock lock(m_pLock);
    m_pQSink = piqc; // not referenced: the sink is usually the filter that owns us or our peer
    return S_OK;
}

LONG CBasePin::GetMediaTypeVersion() {
    return InterlockedCompareExchange(&m_TypeVersion, 0, 0);
}

void CBasePin::IncrementTypeVersion() {
    InterlockedIncrement(&m_TypeVersion);
}

HRESULT CBasePin::Active() {
    return S_OK;
}

HRESULT CBasePin::Inactive() {
    return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME /*tStart*/) {
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
    if (!pmt)
        return E_POINTER;
    return m_mt.Set(*pmt);
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    const HRESULT hr = pPin->QueryDirection(&dir);
    if (FAILED(hr))
        return hr;
    if (dir == m_dir)
        return VFW_E_INVALID_DIRECTION;
    return S_OK;
}

HRESULT CBasePin::BreakConnect() {
    return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin* /*pReceivePin*/) {
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int /*iPosition*/, CMediaType* /*pMediaType*/) {
    return E_UNEXPECTED;
}
