#include "Source.h"

#include "Log.h"
#include "SourceStream.h"

CSource::CSource(const wchar_t* pName, LPUNKNOWN pUnk, REFCLSID clsid)
    : CBaseFilter(pName, pUnk, &m_cStateLock, clsid) {}

CSource::~CSource() {
    // Released without being stopped (a client that paused the filter outside any graph and let go):
    // stop the workers while the pins are still whole, or a worker would fill a half-destroyed pin.
    if (m_State != State_Stopped)
        (void)LOG_IF_FAILED(Stop()); // the filter is going away; there is nobody left to tell about a failure
    while (!m_paStreams.empty()) {
        CSourceStream* pStream = m_paStreams.back();
        m_paStreams.pop_back();
        delete pStream;
    }
}

int CSource::GetPinCount() {
    CAutoLock lock(&m_cStateLock);
    return static_cast<int>(m_paStreams.size());
}

CBasePin* CSource::GetPin(int n) {
    CAutoLock lock(&m_cStateLock);
    if (n < 0 || n >= static_cast<int>(m_paStreams.size()))
        return nullptr;
    return m_paStreams[static_cast<size_t>(n)];
}

HRESULT CSource::AddPin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    try {
        m_paStreams.push_back(pStream);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    for (size_t i = 0; i < m_paStreams.size(); ++i) {
        if (m_paStreams[i] == pStream) {
            m_paStreams.erase(m_paStreams.begin() + static_cast<std::ptrdiff_t>(i));
            IncrementPinVersion();
            return S_OK;
        }
    }
    return S_FALSE;
}

int CSource::FindPinNumber(IPin* pPin) {
    CAutoLock lock(&m_cStateLock);
    for (size_t i = 0; i < m_paStreams.size(); ++i)
        if (static_cast<IPin*>(m_paStreams[i]) == pPin)
            return static_cast<int>(i);
    return -1;
}
