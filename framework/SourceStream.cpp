#include "SourceStream.h"

#include <wrl/client.h>

#include <cwchar>

#include "Log.h"
#include "Source.h"

CSourceStream::CSourceStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pms, const wchar_t* pName)
    : CAMThread(), CBaseOutputPin(pObjectName, pms, pms->pStateLock(), phr, pName), m_pFilter(pms) {
    const HRESULT hr = pms->AddPin(this);
    if (FAILED(hr) && phr)
        *phr = hr;
}

CSourceStream::~CSourceStream() {
    (void)m_pFilter->RemovePin(this);
}

HRESULT CSourceStream::GetMediaType(CMediaType* /*pMediaType*/) {
    return E_UNEXPECTED;
}

HRESULT CSourceStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition > 0)
        return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(pMediaType);
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pMediaType) {
    if (!pMediaType)
        return E_POINTER;
    CAutoLock lock(m_pLock);
    CMediaType mt;
    const HRESULT hr = GetMediaType(&mt);
    if (FAILED(hr))
        return hr;
    return mt == *pMediaType ? S_OK : E_FAIL;
}

STDMETHODIMP CSourceStream::QueryId(LPWSTR* Id) {
    if (!Id)
        return E_POINTER;
    *Id = nullptr;
    const int n = m_pFilter->FindPinNumber(this);
    if (n < 0)
        return VFW_E_NOT_FOUND;
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(12 * sizeof(WCHAR)));
    if (!*Id)
        return E_OUTOFMEMORY;
    std::swprintf(*Id, 12, L"%d", n + 1);
    return S_OK;
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pLock);
    if (m_pFilter->IsActive())
        return S_FALSE;
    if (!IsConnected())
        return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    if (!Create()) {
        (void)CBaseOutputPin::Inactive(); // the creation failure is the one to report
        return E_FAIL;
    }
    hr = Init();
    if (SUCCEEDED(hr))
        hr = PauseCommand();
    if (FAILED(hr)) {
        // Nothing may stay behind that keeps the next start from working: a worker whose set-up
        // failed has already ended (Close only collects it), one that answered is told to end.
        (void)StopWorker();
        (void)CBaseOutputPin::Inactive();
    }
    return hr;
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pLock);
    if (!IsConnected())
        return S_OK;
    // Decommit first: a worker waiting in GetDeliveryBuffer is freed by it and then sees CMD_STOP.
    // A failure is reported, but the worker still goes: a thread left behind would keep streaming
    // into a stopped filter and make every later start fail.
    const HRESULT hrDecommit = CBaseOutputPin::Inactive();
    const HRESULT hrStop = StopWorker();
    return FAILED(hrDecommit) ? hrDecommit : hrStop;
}

HRESULT CSourceStream::StopWorker() {
    if (!ThreadExists())
        return S_OK;
    // CallWorker answers E_FAIL at once for a worker that has ended, so both commands return
    // either way, and after CMD_EXIT or the worker's own end there is nothing left for Close to
    // wait for.
    const HRESULT hrStop = StopCommand();
    const HRESULT hrExit = Exit();
    Close();
    return FAILED(hrStop) ? hrStop : hrExit;
}

HRESULT CSourceStream::StampLiveSample(IMediaSample* pSample, REFERENCE_TIME rtDuration,
                                       REFERENCE_TIME* prtNext) {
    REFERENCE_TIME rtStart = *prtNext;
    REFERENCE_TIME rtNow = 0;
    if (m_pFilter->RunningStreamTime(&rtNow) == S_OK)
        rtStart = rtNow;
    REFERENCE_TIME rtEnd = rtStart + rtDuration;
    *prtNext = rtEnd;
    return pSample->SetTime(&rtStart, &rtEnd);
}

BOOL CSourceStream::CheckRequest(Command* pCom) {
    DWORD dw = 0;
    const BOOL bPending = CAMThread::CheckRequest(&dw);
    if (bPending && pCom)
        *pCom = static_cast<Command>(dw);
    return bPending;
}

DWORD CSourceStream::ThreadProc() {
    Command com;
    for (;;) {
        com = GetRequest();
        if (com == CMD_INIT)
            break;
        Reply(static_cast<DWORD>(E_UNEXPECTED));
    }

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        (void)LOG_IF_FAILED(OnThreadDestroy()); // the creation failure is the one to report
        Reply(static_cast<DWORD>(hr));
        return 1;
    }
    Reply(S_OK);

    for (;;) {
        com = GetRequest();
        if (com == CMD_PAUSE || com == CMD_RUN) {
            Reply(S_OK);
            // Its failure was already reported to the graph (EC_ERRORABORT); the thread goes on
            // waiting for the command that stops it.
            (void)LOG_IF_FAILED(DoBufferProcessingLoop());
        } else if (com == CMD_STOP) {
            Reply(S_OK);
        } else if (com == CMD_EXIT) {
            Reply(S_OK);
            break;
        } else {
            Reply(static_cast<DWORD>(E_NOTIMPL));
        }
    }

    hr = OnThreadDestroy();
    return FAILED(hr) ? 1 : 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    (void)LOG_IF_FAILED(OnThreadStartPlay()); // a hook; a source that cannot start says so through FillBuffer

    Command com;
    do {
        while (!CheckRequest(&com)) {
            Microsoft::WRL::ComPtr<IMediaSample> pSample;
            HRESULT hr = GetDeliveryBuffer(pSample.GetAddressOf(), nullptr, nullptr, 0);
            if (FAILED(hr) || !pSample) {
                // Decommitted (stopping) or briefly out of buffers: look for the command again soon.
                Sleep(1);
                continue;
            }

            // The sample goes back to its allocator before anything else happens (end of stream,
            // the next buffer), so a peer that waits for free buffers is never kept waiting on it.
            hr = FillBuffer(pSample.Get());
            if (hr == S_OK) {
                hr = Deliver(pSample.Get());
                pSample.Reset();
                // The peer refused the sample or wants no more: stop pushing, keep the thread.
                if (hr != S_OK)
                    return S_OK;
            } else if (hr == S_FALSE) {
                pSample.Reset();
                (void)LOG_IF_FAILED(DeliverEndOfStream()); // nothing to do if the peer has gone
                return S_OK;
            } else {
                pSample.Reset();
                (void)LOG_IF_FAILED(DeliverEndOfStream());
                (void)LOG_IF_FAILED(m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0));
                return hr;
            }
        }

        // A command is pending.
        if (com == CMD_RUN || com == CMD_PAUSE) {
            Reply(S_OK);
        } else if (com != CMD_STOP) {
            Reply(static_cast<DWORD>(E_UNEXPECTED));
        }
    } while (com != CMD_STOP);
    // CMD_STOP stays pending; ThreadProc answers it.
    return S_FALSE;
}
