// A scripted input pin for driving an output pin through cases a platform filter will not produce
// on demand: a peer without IMemInputPin, one that refuses every type, one whose Receive answers
// S_FALSE, one that keeps every sample it gets (so the sender's allocator runs dry), one that offers
// an allocator of the test's choosing and looks at every sample it receives.
//
// It lives on the test's stack; its reference count starts at 1 and a leak-free test ends with it
// back at 1. It does not reference the pin that connects to it, so a filter can be released
// without disconnecting it first.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "Unknown.h"
#include "wait_until.h"

COM_CLASSES_BEGIN
class CFakeInputPin : public IPin, public IMemInputPin {
public:
    enum class Receive { Accept, Refuse, Hold };

    PIN_DIRECTION direction = PINDIR_INPUT;
    bool exposeMemInputPin = true;
    bool acceptTypes = true;
    Receive receiveMode = Receive::Accept;
    // Offered to the sender as this pin's own allocator when set (the sender may still refuse it).
    IMemAllocator* allocator = nullptr;
    // Called with every sample Receive gets, before the receive mode applies.
    std::function<void(IMediaSample*)> onReceive;

    std::atomic<long> refs{1};
    std::atomic<long> receives{0};
    std::atomic<long> endOfStreams{0};
    std::atomic<long> receiveConnections{0};
    IPin* connector = nullptr;

    ~CFakeInputPin() { ReleaseHeld(); }

    void ReleaseHeld() {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (IMediaSample* s : m_held)
            s->Release();
        m_held.clear();
    }
    size_t HeldCount() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_held.size();
    }
    // Waits until Receive was called at least n times; true when it was.
    bool WaitForReceives(long n, DWORD timeoutMs) const {
        return testing_support::WaitUntil([&] { return receives.load() >= n; }, timeoutMs, 2);
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IPin)
            *ppv = static_cast<IPin*>(this);
        else if (riid == IID_IMemInputPin && exposeMemInputPin)
            *ppv = static_cast<IMemInputPin*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }

    // IPin
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE*) override {
        ++receiveConnections;
        if (!acceptTypes)
            return VFW_E_TYPE_NOT_ACCEPTED;
        connector = pConnector;
        return S_OK;
    }
    STDMETHODIMP Disconnect() override {
        const bool was = connector != nullptr;
        connector = nullptr;
        return was ? S_OK : S_FALSE;
    }
    STDMETHODIMP ConnectedTo(IPin** pp) override {
        *pp = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return VFW_E_NOT_CONNECTED; }
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override {
        pInfo->pFilter = nullptr;
        pInfo->dir = direction;
        lstrcpyW(pInfo->achName, L"Fake");
        return S_OK;
    }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pDir) override {
        *pDir = direction;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return acceptTypes ? S_OK : S_FALSE; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override {
        ++endOfStreams;
        return S_OK;
    }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin: no allocator of its own unless one was given, so the sender makes one.
    STDMETHODIMP GetAllocator(IMemAllocator** pp) override {
        *pp = allocator;
        if (!allocator)
            return VFW_E_NO_ALLOCATOR;
        allocator->AddRef();
        return S_OK;
    }
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* pSample) override {
        ++receives;
        if (onReceive)
            onReceive(pSample);
        switch (receiveMode) {
        case Receive::Refuse:
            return S_FALSE;
        case Receive::Hold: {
            std::lock_guard<std::mutex> lock(m_mutex);
            pSample->AddRef();
            m_held.push_back(pSample);
            return S_OK;
        }
        default:
            return S_OK;
        }
    }
    STDMETHODIMP ReceiveMultiple(IMediaSample** pp, long n, long* pDone) override {
        *pDone = 0;
        for (long i = 0; i < n; ++i, ++*pDone) {
            const HRESULT hr = Receive(pp[i]);
            if (hr != S_OK)
                return hr;
        }
        return S_OK;
    }
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

private:
    std::mutex m_mutex;
    std::vector<IMediaSample*> m_held;
};
COM_CLASSES_END
