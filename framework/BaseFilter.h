// CBaseFilter: the filter half of the platform's IBaseFilter contract - state machine, reference
// clock, graph membership, pin lookup and self-registration.
//
// Threading: every state method and pin lookup runs under the filter lock given at construction
// (for CSource, its state lock). Pins take the same lock for connection and Active/Inactive. The
// graph pointer and event sink are not referenced: the graph owns the filter, not the other way.
// A streaming thread, which must never take the filter lock, reads the running stream time through
// RunningStreamTime; the state methods keep what it needs under a small lock of its own
// (m_csStreamClock), which is taken last and around nothing else.
#pragma once

#include <wrl/client.h>

#include <string>

#include "CritSec.h"
#include "DShowHeaders.h"
#include "SetupData.h"
#include "Unknown.h"

class CBasePin;

COM_CLASSES_BEGIN
class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    CBaseFilter(const wchar_t* pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* pClsID) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* pState) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** ppClock) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;
    // IAMovieSetup
    STDMETHODIMP Register() override;
    STDMETHODIMP Unregister() override;

    // The reference clock's time minus the start time; VFW_E_NO_CLOCK without a clock.
    virtual HRESULT StreamTime(REFERENCE_TIME& rtStream);
    // The stream time now, for a streaming thread: S_OK while the filter runs on a reference clock;
    // S_FALSE (and 0) when it is not running or has no clock, which leaves a live sample no time of
    // its own to carry.
    HRESULT RunningStreamTime(REFERENCE_TIME* prtStream);
    // Changes whenever the set of pins changes; pin enumerators compare it.
    virtual LONG GetPinVersion();
    virtual int GetPinCount() = 0;
    // The pin at index n (0 .. count - 1), not referenced; null outside that range.
    virtual CBasePin* GetPin(int n) = 0;
    // The setup record IAMovieSetup registers; none by default.
    virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }

    BOOL IsActive();
    BOOL IsStopped();
    CCritSec* pStateLock() const { return m_pLock; }
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }
    // Passes an event to the graph's event sink; E_NOTIMPL outside a graph.
    HRESULT NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);
    void IncrementPinVersion();

protected:
    FILTER_STATE m_State = State_Stopped;
    Microsoft::WRL::ComPtr<IReferenceClock> m_pClock;
    REFERENCE_TIME m_tStart = 0;
    CLSID m_clsid;
    CCritSec* const m_pLock;
    std::wstring m_name;
    IFilterGraph* m_pGraph = nullptr;
    IMediaEventSink* m_pSink = nullptr;
    volatile LONG m_PinVersion = 1;

private:
    HRESULT RegisterSetupData(BOOL bRegister);
    // Copies state, clock and start time for RunningStreamTime; called under the filter lock
    // whenever one of them changes.
    void PublishStreamClock();

    CCritSec m_csStreamClock;
    Microsoft::WRL::ComPtr<IReferenceClock> m_pStreamClock; // the clock while running, else none
    REFERENCE_TIME m_tStreamStart = 0;
};
COM_CLASSES_END
