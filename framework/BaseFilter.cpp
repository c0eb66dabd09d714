#include "BaseFilter.h"

#include <cwchar>

#include "BasePin.h"
#include "EnumPins.h"
#include "FilterModule.h"

CBaseFilter::CBaseFilter(const wchar_t* pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid)
    : CUnknown(pName, pUnk), m_clsid(clsid), m_pLock(pLock) {}

CBaseFilter::~CBaseFilter() = default;

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IAMovieSetup)
        return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClsID) {
    if (!pClsID)
        return E_POINTER;
    *pClsID = m_clsid;
    return S_OK;
}

STDMETHODIMP CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT hrKept = S_OK;
    if (m_State != State_Stopped) {
        // Every pin is told, even after one failed, so none keeps streaming into a stopped graph.
        const int cPins = GetPinCount();
        for (int i = 0; i < cPins; ++i) {
            CBasePin* pPin = GetPin(i);
            if (pPin && pPin->IsConnected()) {
                const HRESULT hr = pPin->Inactive();
                if (FAILED(hr) && SUCCEEDED(hrKept))
                    hrKept = hr;
            }
        }
    }
    m_State = State_Stopped;
    PublishStreamClock();
    return hrKept;
}

STDMETHODIMP CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        const int cPins = GetPinCount();
        for (int i = 0; i < cPins; ++i) {
            CBasePin* pPin = GetPin(i);
            if (pPin && pPin->IsConnected()) {
                const HRESULT hr = pPin->Active();
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_State = State_Paused;
    PublishStreamClock();
    return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    if (m_State != State_Running) {
        const int cPins = GetPinCount();
        for (int i = 0; i < cPins; ++i) {
            CBasePin* pPin = GetPin(i);
            if (pPin && pPin->IsConnected()) {
                const HRESULT hr = pPin->Run(tStart);
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_State = State_Running;
    PublishStreamClock();
    return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD /*dwMilliSecsTimeout*/, FILTER_STATE* pState) {
    if (!pState)
        return E_POINTER;
    *pState = m_State;
    return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
    CAutoLock lock(m_pLock);
    m_pClock = pClock;
    PublishStreamClock();
    return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** ppClock) {
    if (!ppClock)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    return m_pClock.CopyTo(ppClock);
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    CEnumPins* pEnum = CEnumPins::Create(this, nullptr);
    if (!pEnum)
        return E_OUTOFMEMORY;
    *ppEnum = pEnum;
    return S_OK;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!ppPin)
        return E_POINTER;
    *ppPin = nullptr;
    if (!Id)
        return E_POINTER;
    wchar_t* pEnd = nullptr;
    const long number = std::wcstol(Id, &pEnd, 10);
    if (pEnd == Id || *pEnd != L'\0' || number < 1 || number > 0x7FFFFFFF)
        return VFW_E_NOT_FOUND;
    CAutoLock lock(m_pLock);
    CBasePin* pPin = GetPin(static_cast<int>(number - 1));
    if (!pPin)
        return VFW_E_NOT_FOUND;
    *ppPin = pPin;
    pPin->AddRef();
    return S_OK;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (!pInfo)
        return E_POINTER;
    const size_t cch = m_name.size() < MAX_FILTER_NAME - 1 ? m_name.size() : MAX_FILTER_NAME - 1;
    std::wmemcpy(pInfo->achName, m_name.c_str(), cch);
    pInfo->achName[cch] = L'\0';
    pInfo->pGraph = m_pGraph;
    if (m_pGraph)
        m_pGraph->AddRef();
    return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(m_pLock);
    m_pGraph = pGraph;
    m_pSink = nullptr;
    if (pGraph) {
        // Kept without a reference, like the graph itself: the graph outlives its filters' membership.
        Microsoft::WRL::ComPtr<IMediaEventSink> sink;
        if (SUCCEEDED(
                pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(sink.GetAddressOf()))))
            m_pSink = sink.Get();
    }
    try {
        m_name = pName ? pName : L"";
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR* /*pVendorInfo*/) {
    return E_NOTIMPL;
}

// IAMovieSetup in both directions: through the older filter mapper, with the filter's own setup
// data; a filter without setup data has nothing to (un)register.
HRESULT CBaseFilter::RegisterSetupData(BOOL bRegister) {
    const AMOVIESETUP_FILTER* pSetup = GetSetupData();
    if (!pSetup)
        return S_FALSE;
    Microsoft::WRL::ComPtr<IFilterMapper> mapper;
    const HRESULT hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                        reinterpret_cast<void**>(mapper.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    return RegisterFilterSetupWithMapper1(mapper.Get(), pSetup, bRegister);
}

STDMETHODIMP CBaseFilter::Register() {
    return RegisterSetupData(TRUE);
}

STDMETHODIMP CBaseFilter::Unregister() {
    return RegisterSetupData(FALSE);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& rtStream) {
    if (!m_pClock)
        return VFW_E_NO_CLOCK;
    const HRESULT hr = m_pClock->GetTime(&rtStream);
    if (FAILED(hr))
        return hr;
    rtStream -= m_tStart;
    return S_OK;
}

void CBaseFilter::PublishStreamClock() {
    CAutoLock lock(&m_csStreamClock);
    m_pStreamClock = m_State == State_Running ? m_pClock : nullptr;
    m_tStreamStart = m_tStart;
}

HRESULT CBaseFilter::RunningStreamTime(REFERENCE_TIME* prtStream) {
    if (!prtStream)
        return E_POINTER;
    *prtStream = 0;
    Microsoft::WRL::ComPtr<IReferenceClock> clock;
    REFERENCE_TIME tStart = 0;
    {
        CAutoLock lock(&m_csStreamClock);
        clock = m_pStreamClock;
        tStart = m_tStreamStart;
    }
    // Asked outside the lock: a clock is someone else's object and may take locks of its own.
    REFERENCE_TIME now = 0;
    if (!clock || FAILED(clock->GetTime(&now)))
        return S_FALSE;
    *prtStream = now - tStart;
    return S_OK;
}

LONG CBaseFilter::GetPinVersion() {
    return InterlockedCompareExchange(&m_PinVersion, 0, 0);
}

void CBaseFilter::IncrementPinVersion() {
    InterlockedIncrement(&m_PinVersion);
}

BOOL CBaseFilter::IsActive() {
    CAutoLock lock(m_pLock);
    return m_State != State_Stopped;
}

BOOL CBaseFilter::IsStopped() {
    return m_State == State_Stopped;
}

HRESULT CBaseFilter::NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    IMediaEventSink* pSink = m_pSink;
    if (!pSink)
        return E_NOTIMPL;
    return pSink->Notify(EventCode, EventParam1, EventParam2);
}
