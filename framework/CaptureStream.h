// CCaptureStream: the output pin of a video capture source. On top of the source stream it answers
// the two interfaces capture applications ask of a camera's pin: IAMStreamConfig (the current
// format and the list of capabilities) and IKsPropertySet (the pin category, capture, read-only).
//
// A derived pin says what its capabilities are (CapabilityCount, GetCapability and, for a record
// other than VIDEO_STREAM_CONFIG_CAPS, CapabilityRecordSize) and how a client's format is taken
// (SetFormat); the checks, the copies handed to the caller and the task memory are done here once.
//
// Threading: the IAMStreamConfig and IKsPropertySet methods run on the application's threads.
// GetFormat reads the current type (m_mt) under the filter lock; GetStreamCaps calls GetCapability
// without it, so a derived pin takes the lock there if its capabilities depend on changing state.
#pragma once

#include "DShowHeaders.h"
#include "SourceStream.h"

COM_CLASSES_BEGIN
class CCaptureStream : public IAMStreamConfig, public IKsPropertySet, public CSourceStream {
public:
    CCaptureStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pms, const wchar_t* pName);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IAMStreamConfig. SetFormat is the derived pin's.
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** ppmt) override;
    STDMETHODIMP GetNumberOfCapabilities(int* piCount, int* piSize) override;
    STDMETHODIMP GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    // IKsPropertySet: the pin category.
    STDMETHODIMP Set(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                     LPVOID pPropData, DWORD cbPropData) override;
    STDMETHODIMP Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                     LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) override;
    STDMETHODIMP QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override;

protected:
    // How many capabilities GetStreamCaps serves (indexes 0 .. count - 1).
    virtual int CapabilityCount() = 0;
    // The size GetNumberOfCapabilities reports for the capabilities record, which is what a client
    // allocates. GetStreamCaps writes exactly that many bytes: the structure cut short, or followed
    // by zeros.
    virtual int CapabilityRecordSize() { return sizeof(VIDEO_STREAM_CONFIG_CAPS); }
    // Capability iIndex, already checked to be in range: its media type and its record (which
    // arrives zeroed).
    virtual HRESULT GetCapability(int iIndex, CMediaType* pmt, VIDEO_STREAM_CONFIG_CAPS* pCaps) = 0;
};
COM_CLASSES_END
