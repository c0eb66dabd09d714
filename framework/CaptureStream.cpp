#include "CaptureStream.h"

#include <cstring>

#include "PinCategory.h"

CCaptureStream::CCaptureStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pms, const wchar_t* pName)
    : CSourceStream(pObjectName, phr, pms, pName) {}

STDMETHODIMP CCaptureStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IAMStreamConfig)
        return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    if (riid == IID_IKsPropertySet)
        return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CCaptureStream::GetFormat(AM_MEDIA_TYPE** ppmt) {
    if (!ppmt)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    *ppmt = CreateMediaType(&m_mt);
    return *ppmt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CCaptureStream::GetNumberOfCapabilities(int* piCount, int* piSize) {
    if (!piCount || !piSize)
        return E_POINTER;
    *piCount = CapabilityCount();
    *piSize = CapabilityRecordSize();
    return S_OK;
}

STDMETHODIMP CCaptureStream::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) {
    if (!ppmt || !pSCC)
        return E_POINTER;
    *ppmt = nullptr;
    if (iIndex < 0 || iIndex >= CapabilityCount())
        return E_INVALIDARG;
    CMediaType mt;
    VIDEO_STREAM_CONFIG_CAPS caps = {};
    const HRESULT hr = GetCapability(iIndex, &mt, &caps);
    if (FAILED(hr))
        return hr;
    *ppmt = CreateMediaType(&mt);
    if (!*ppmt)
        return E_OUTOFMEMORY;
    // The caller's buffer has the size we reported, and need not be aligned.
    const int cbRecord = CapabilityRecordSize();
    const size_t cbRecordSize = cbRecord > 0 ? static_cast<size_t>(cbRecord) : 0;
    const size_t cbCopy = cbRecordSize < sizeof caps ? cbRecordSize : sizeof caps;
    std::memcpy(pSCC, &caps, cbCopy);
    if (cbRecordSize > cbCopy)
        std::memset(pSCC + cbCopy, 0, cbRecordSize - cbCopy);
    return S_OK;
}

STDMETHODIMP CCaptureStream::Set(REFGUID /*guidPropSet*/, DWORD /*dwPropID*/, LPVOID /*pInstanceData*/,
                                 DWORD /*cbInstanceData*/, LPVOID /*pPropData*/, DWORD /*cbPropData*/) {
    return E_NOTIMPL;
}

STDMETHODIMP CCaptureStream::Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID /*pInstanceData*/,
                                 DWORD /*cbInstanceData*/, LPVOID pPropData, DWORD cbPropData,
                                 DWORD* pcbReturned) {
    return GetPinCategoryProperty(guidPropSet, dwPropID, pPropData, cbPropData, pcbReturned,
                                  PIN_CATEGORY_CAPTURE);
}

STDMETHODIMP CCaptureStream::QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) {
    return QueryPinCategorySupport(guidPropSet, dwPropID, pTypeSupport);
}
