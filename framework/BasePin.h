// CBasePin: the platform's IPin contract for one pin of a CBaseFilter - connection and media-type
// negotiation, pin information, segments and quality-sink bookkeeping.
//
// A pin's AddRef and Release are its filter's, so a pin lives exactly as long as its filter and
// a client holding only a pin keeps the whole filter alive.
//
// Threading: connection, disconnection and the current media type change under the filter lock,
// and only while the filter is stopped, so a streaming thread may read them without the lock.
#pragma once

#include <wrl/client.h>

#include <string>

#include "CritSec.h"
#include "DShowHeaders.h"
#include "MediaType.h"
#include "Unknown.h"

class CBaseFilter;

COM_CLASSES_BEGIN
class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
             const wchar_t* pName, PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

    // IPin
    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** ppPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
    STDMETHODIMP QueryId(LPWSTR* Id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override = 0;
    STDMETHODIMP EndFlush() override = 0;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    // IQualityControl
    STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;
    STDMETHODIMP SetSink(IQualityControl* piqc) override;

    // Changes whenever the media types this pin offers change; type enumerators compare it.
    virtual LONG GetMediaTypeVersion();
    // Called under the filter lock when the filter leaves / returns to the stopped state.
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT Run(REFERENCE_TIME tStart);
    // S_OK when the pin can connect with this type.
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    // Stores the agreed type as the connection's.
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    // Checks the peer itself (direction; an output pin also wants its IMemInputPin).
    virtual HRESULT CheckConnect(IPin* pPin);
    // Undoes what CheckConnect and CompleteConnect set up.
    virtual HRESULT BreakConnect();
    // The last step of a connection, after the peer accepted it.
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    // The type this pin offers at a position: S_OK, VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);

    BOOL IsConnected() const { return m_Connected.Get() != nullptr; }
    IPin* GetConnected() const { return m_Connected.Get(); }
    BOOL IsStopped();
    const CMediaType& CurrentMediaType() const { return m_mt; }
    const std::wstring& Name() const { return m_name; }
    CBaseFilter* Filter() const { return m_pFilter; }
    // Makes enumerators created before this call answer VFW_E_ENUM_OUT_OF_SYNC until Reset.
    void IncrementTypeVersion();
    // Set by pins that may connect while the filter is paused or running.
    void SetReconnectWhenActive(BOOL bCan) { m_bCanReconnectWhenActive = bCan; }

protected:
    std::wstring m_name;
    Microsoft::WRL::ComPtr<IPin> m_Connected;
    const PIN_DIRECTION m_dir;
    CCritSec* const m_pLock;
    CBaseFilter* const m_pFilter;
    IQualityControl* m_pQSink = nullptr;
    volatile LONG m_TypeVersion = 1;
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = 0x7FFFFFFFFFFFFFFFLL;
    double m_dRate = 1.0;
    BOOL m_bCanReconnectWhenActive = FALSE;

private:
    HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum, HRESULT* phrKept);
    HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT DisconnectInternal();
};
COM_CLASSES_END
