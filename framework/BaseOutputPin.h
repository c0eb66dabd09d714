// CBaseOutputPin: an output pin that delivers media samples to its peer's IMemInputPin, with the
// allocator negotiation that connection needs.
//
// Threading: the allocator and the peer's IMemInputPin are set while connecting and cleared while
// disconnecting, both under the filter lock and only while stopped; the streaming thread uses them
// without a lock in between.
#pragma once

#include "BasePin.h"

COM_CLASSES_BEGIN
class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   const wchar_t* pName);
    ~CBaseOutputPin() override;

    // Output pins receive neither data nor flushes.
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // Commit / decommit the allocator.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // The peer's allocator if it has one that takes our sizes, else a new platform memory allocator.
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
    // Sets the buffer count and size on pAlloc; pProperties holds the peer's requirements.
    // Ask for more than one buffer: the platform's Smart Tee (inserted by the capture graph builder
    // behind a source without a preview pin) copies every sample it receives into another buffer
    // of the allocator it shares with us, inside Receive, and with a single buffer waits forever.
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) = 0;
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    IMemAllocator* Allocator() const { return m_pAllocator.Get(); }

protected:
    Microsoft::WRL::ComPtr<IMemAllocator> m_pAllocator;
    Microsoft::WRL::ComPtr<IMemInputPin> m_pInputPin;

private:
    // Sizes pAlloc for the peer's requirements and offers it to the peer.
    HRESULT OfferAllocator(IMemInputPin* pPin, IMemAllocator* pAlloc, const ALLOCATOR_PROPERTIES& required);
};
COM_CLASSES_END
