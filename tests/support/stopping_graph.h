// CStoppingGraph: a filter graph with its own lock, as the platform's has, for testing that a pin
// asks for a reconnection without its filter's lock held. Another of the graph's threads holds the
// graph lock and stops the filter at the moment the pin asks; Reconnect then needs the graph lock.
// If the filter still holds its own lock the two wait for each other. The waits are bounded, so a
// deadlock shows as a failure instead of a hang.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "UniqueAny.h"
#include "Unknown.h"

// It lives on the test's stack; its count starts at 1 and a leak-free test ends with it at 1.
COM_CLASSES_BEGIN
class CStoppingGraph : public IFilterGraph {
public:
    explicit CStoppingGraph(IBaseFilter* pFilter) : m_pFilter(pFilter) {
        InitializeCriticalSection(&m_graphLock);
    }
    ~CStoppingGraph() { DeleteCriticalSection(&m_graphLock); }

    long reconnects = 0;
    IPin* reconnected = nullptr;
    bool graphLockTaken = false; // Reconnect got the graph lock within the limit
    HRESULT stopResult = E_UNEXPECTED;
    std::atomic<long> refs{1};

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IFilterGraph)
            return E_NOINTERFACE;
        *ppv = static_cast<IFilterGraph*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }

    STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }

    STDMETHODIMP Reconnect(IPin* pPin) override {
        ++reconnects;
        reconnected = pPin;
        // Held by the graph until it goes, so a graph thread that signals late finds it still open.
        m_locked.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        const HANDLE locked = m_locked.get();
        std::thread graphThread([this, locked] {
            EnterCriticalSection(&m_graphLock);
            SetEvent(locked);
            stopResult = m_pFilter->Stop(); // takes the filter lock
            LeaveCriticalSection(&m_graphLock);
        });
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(locked, 10000));
        // The graph's own work on the pin needs the graph lock.
        const DWORD start = GetTickCount();
        while (!(graphLockTaken = TryEnterCriticalSection(&m_graphLock) != FALSE) &&
               GetTickCount() - start < 5000)
            Sleep(5);
        if (graphLockTaken)
            LeaveCriticalSection(&m_graphLock);
        // Whatever happened, the graph thread finishes once the caller lets go of its lock; it is
        // joined by the test, never left behind.
        m_graphThread = std::move(graphThread);
        return graphLockTaken ? S_OK : VFW_E_TIMEOUT;
    }

    void Join() {
        if (m_graphThread.joinable())
            m_graphThread.join();
    }

private:
    IBaseFilter* const m_pFilter;
    CRITICAL_SECTION m_graphLock;
    win::UniqueHandle m_locked;
    std::thread m_graphThread;
};
COM_CLASSES_END
