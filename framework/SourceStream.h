// CSourceStream: the output pin of a push source, with its own worker thread that fills and
// delivers samples.
//
// Threading: the application's threads (through the filter) create, command and join the worker
// under the filter lock: Active starts it and sends CMD_INIT then CMD_PAUSE; Inactive decommits
// the allocator, sends CMD_STOP and CMD_EXIT and joins it. The worker runs FillBuffer and Deliver
// without ever taking the filter lock (a state change holds that lock while it waits for the
// worker's reply), and looks for a pending command between samples, so every command is answered
// within one sample. A worker blocked in GetDeliveryBuffer is freed by the decommit that comes
// first in Inactive.
//
// A derived pin overrides FillBuffer, DecideBufferSize, CheckMediaType and GetMediaType. It may
// override either GetMediaType: the one-type form feeds the positional one at position 0. A class
// that overrides only one of them adds "using CSourceStream::GetMediaType;" so the other stays
// visible.
#pragma once

#include "AMThread.h"
#include "BaseOutputPin.h"

class CSource;

COM_CLASSES_BEGIN
class CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    CSourceStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pms, const wchar_t* pName);
    ~CSourceStream() override;

    enum Command : DWORD { CMD_INIT = 0, CMD_PAUSE = 1, CMD_RUN = 2, CMD_STOP = 3, CMD_EXIT = 4 };

    // Fills one sample. S_OK: deliver it; S_FALSE: end of stream; a failure: abort the stream.
    virtual HRESULT FillBuffer(IMediaSample* pSample) = 0;
    // Run on the worker when it starts / ends.
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    // Run on the worker each time streaming (re)starts.
    virtual HRESULT OnThreadStartPlay() { return S_OK; }
    virtual HRESULT DoBufferProcessingLoop();
    // The one type this pin offers by default.
    virtual HRESULT GetMediaType(CMediaType* pMediaType);

    // Position 0 is GetMediaType(CMediaType*); there is nothing after it.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // Accepts exactly the type GetMediaType(CMediaType*) gives.
    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    // The pin's number in its filter plus one, as decimal text (what FindPin takes back).
    STDMETHODIMP QueryId(LPWSTR* Id) override;

    DWORD ThreadProc() override;

    HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
    HRESULT RunCommand() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
    HRESULT PauseCommand() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
    HRESULT StopCommand() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }

protected:
    // Worker: stamps a sample that leaves now, as a live source does. While the filter runs on a
    // reference clock the sample starts at the stream time now, so a renderer in the client's graph
    // shows it at once instead of holding it until a stamp counted from 0 comes round; otherwise
    // it starts where the previous sample ended (*prtNext). Either way it lasts rtDuration, and
    // *prtNext becomes its end.
    HRESULT StampLiveSample(IMediaSample* pSample, REFERENCE_TIME rtDuration, REFERENCE_TIME* prtNext);
    // Tells the worker to stop and end, and joins it; nothing to do without one. The first
    // failure of the two commands is returned; the thread is gone either way.
    HRESULT StopWorker();
    Command GetRequest() { return static_cast<Command>(CAMThread::GetRequest()); }
    BOOL CheckRequest(Command* pCom);

    CSource* const m_pFilter;
};
COM_CLASSES_END
