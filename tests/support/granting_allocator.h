// An allocator that grants a buffer size of the test's choosing instead of the one asked for, the
// way a peer's allocator may: the platform's memory allocator underneath, with SetProperties
// rewritten and every buffer filled with a marker byte before it is handed out, so a test can see
// whether the sender wrote past what it should. It counts commits and decommits, and can fail the
// next decommit the way a peer's allocator may.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <atomic>
#include <cstring>

#include <wrl/client.h>

#include "Unknown.h"

COM_CLASSES_BEGIN
class CGrantingAllocator : public IMemAllocator {
public:
    static constexpr BYTE kMarker = 0xCD;

    // cbGrant: the buffer size every SetProperties grants.
    explicit CGrantingAllocator(long cbGrant) : m_cbGrant(cbGrant) {
        m_hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                reinterpret_cast<void**>(m_inner.GetAddressOf()));
    }
    HRESULT Created() const { return m_hr; }

    std::atomic<long> refs{1};
    std::atomic<long> commits{0};
    std::atomic<long> decommits{0};
    // Answered (once) by the next Decommit instead of decommitting; S_OK for none.
    std::atomic<HRESULT> failNextDecommit{S_OK};

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMemAllocator) {
            *ppv = static_cast<IMemAllocator*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }

    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override {
        ALLOCATOR_PROPERTIES granted = *pRequest;
        granted.cbBuffer = m_cbGrant;
        return m_inner->SetProperties(&granted, pActual);
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override {
        return m_inner->GetProperties(pProps);
    }
    STDMETHODIMP Commit() override {
        const HRESULT hr = m_inner->Commit();
        if (SUCCEEDED(hr))
            ++commits;
        return hr;
    }
    STDMETHODIMP Decommit() override {
        const HRESULT failure = failNextDecommit.exchange(S_OK);
        if (FAILED(failure))
            return failure;
        const HRESULT hr = m_inner->Decommit();
        if (SUCCEEDED(hr))
            ++decommits;
        return hr;
    }
    STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd,
                           DWORD dwFlags) override {
        const HRESULT hr = m_inner->GetBuffer(ppBuffer, pStart, pEnd, dwFlags);
        if (SUCCEEDED(hr) && *ppBuffer) {
            BYTE* p = nullptr;
            if (SUCCEEDED((*ppBuffer)->GetPointer(&p)) && p)
                std::memset(p, kMarker, static_cast<size_t>((*ppBuffer)->GetSize()));
        }
        return hr;
    }
    STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override { return m_inner->ReleaseBuffer(pBuffer); }

private:
    const long m_cbGrant;
    HRESULT m_hr;
    Microsoft::WRL::ComPtr<IMemAllocator> m_inner;
};
COM_CLASSES_END
