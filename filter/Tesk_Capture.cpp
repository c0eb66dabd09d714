#include "Tesk_Capture.h"

#include <new>

#include "Tesk_Stream.h"
#include "ZarvexIds.h"
#include "ZarvexSettings.h"

CUnknown* CALLBACK CTesk_Capture::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CTesk_Capture* pFilter = new (std::nothrow) CTesk_Capture(pUnk, phr);
    if (!pFilter && phr)
        *phr = E_OUTOFMEMORY;
    return pFilter;
}

CTesk_Capture::CTesk_Capture(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource(ZARVEX_DEVICE_NAME, pUnk, CLSID_ZarvexDevice) {
    CAutoLock lock(&m_cStateLock);
    // The pin adds itself to the filter's pin list; the filter deletes it.
    CTesk_Stream* pStream = new (std::nothrow) CTesk_Stream(phr, this, ZARVEX_PIN_NAME);
    if (!pStream && phr)
        *phr = E_OUTOFMEMORY;
}

STDMETHODIMP CTesk_Capture::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IAMStreamConfig || riid == IID_IKsPropertySet || riid == IID_ISpecifyPropertyPages ||
        riid == IID_IZarvexSettings) {
        CTesk_Stream* pStream = Stream();
        if (!pStream) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return pStream->NonDelegatingQueryInterface(riid, ppv);
    }
    return CSource::NonDelegatingQueryInterface(riid, ppv);
}

CTesk_Stream* CTesk_Capture::Stream() {
    return static_cast<CTesk_Stream*>(static_cast<CSourceStream*>(GetPin(0)));
}
