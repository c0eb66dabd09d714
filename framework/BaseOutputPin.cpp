#include "BaseOutputPin.h"

#include <utility>

#include "Log.h"

CBaseOutputPin::CBaseOutputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                               HRESULT* phr, const wchar_t* pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
    (void)CBaseOutputPin::BreakConnect();
}

STDMETHODIMP CBaseOutputPin::EndOfStream() {
    return E_UNEXPECTED;
}

STDMETHODIMP CBaseOutputPin::BeginFlush() {
    return E_UNEXPECTED;
}

STDMETHODIMP CBaseOutputPin::EndFlush() {
    return E_UNEXPECTED;
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
    HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr))
        return hr;
    Microsoft::WRL::ComPtr<IMemInputPin> input;
    hr = pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(input.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    m_pInputPin = std::move(input);
    return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        // Decommit may fail on an allocator that was never committed; the release is what matters.
        (void)LOG_IF_FAILED(m_pAllocator->Decommit());
        m_pAllocator.Reset();
    }
    m_pInputPin.Reset();
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin* /*pReceivePin*/) {
    return DecideAllocator(m_pInputPin.Get(), m_pAllocator.ReleaseAndGetAddressOf());
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    if (!pPin || !ppAlloc)
        return E_POINTER;
    *ppAlloc = nullptr;

    ALLOCATOR_PROPERTIES required = {};
    (void)pPin->GetAllocatorRequirements(&required); // most peers have none; zeroes then stand
    if (required.cbAlign == 0)
        required.cbAlign = 1;

    // The peer's own allocator first: sharing it saves a copy wherever the peer passes buffers on.
    // Then one of our own; the first that can be sized and is accepted by the peer is kept.
    Microsoft::WRL::ComPtr<IMemAllocator> alloc;
    HRESULT hr = pPin->GetAllocator(alloc.GetAddressOf());
    if (SUCCEEDED(hr) && alloc) {
        hr = OfferAllocator(pPin, alloc.Get(), required);
        if (SUCCEEDED(hr)) {
            *ppAlloc = alloc.Detach();
            return S_OK;
        }
    }
    alloc.Reset();

    hr = InitAllocator(alloc.GetAddressOf());
    if (SUCCEEDED(hr) && alloc) {
        hr = OfferAllocator(pPin, alloc.Get(), required);
        if (SUCCEEDED(hr)) {
            *ppAlloc = alloc.Detach();
            return S_OK;
        }
    }
    return FAILED(hr) ? hr : E_FAIL;
}

HRESULT CBaseOutputPin::OfferAllocator(IMemInputPin* pPin, IMemAllocator* pAlloc,
                                       const ALLOCATOR_PROPERTIES& required) {
    ALLOCATOR_PROPERTIES prop = required;
    const HRESULT hr = DecideBufferSize(pAlloc, &prop);
    if (FAILED(hr))
        return hr;
    return pPin->NotifyAllocator(pAlloc, FALSE);
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
    return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags) {
    if (!m_pAllocator)
        return E_NOINTERFACE;
    return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
    if (!m_pInputPin)
        return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::Active() {
    if (!m_pAllocator)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    if (!m_pAllocator)
        return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    if (!m_Connected)
        return VFW_E_NOT_CONNECTED;
    return m_Connected->NewSegment(tStart, tStop, dRate);
}
