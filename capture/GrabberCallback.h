// CGrabberCallback: the sample grabber's callback of the capture graph. Every buffer the grabber
// receives is offered through the graph's CFrameHandoff and sent to the target window as
// WM_CAPTURE_FRAME, with a 50 ms limit; the offer is withdrawn when the send returns, however it
// returned.
//
// It lives inside its CCaptureGraph and counts no references (AddRef and Release answer fixed
// numbers): the graph clears the grabber's callback before the object goes.
//
// Threading: BufferCB runs on the graph's streaming thread; SetWindow on the window thread. The
// target window is read once per buffer, so clearing it keeps further sends away at once (a send
// already under way finishes, and its buffer stays guarded by the handoff).
#pragma once

#include "DShowClient.h"

#include <atomic>
#include <mutex>

#include "FrameHandoff.h"

// Not given by the platform: the callback is not reference counted, and COM objects are deleted
// only by their owner, never through the interface (GCC's -Wnon-virtual-dtor cannot know that).
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class CGrabberCallback : public ISampleGrabberCB {
public:
    explicit CGrabberCallback(CFrameHandoff& handoff) : m_handoff(handoff) {}
    virtual ~CGrabberCallback() = default;
    CGrabberCallback(const CGrabberCallback&) = delete;
    CGrabberCallback& operator=(const CGrabberCallback&) = delete;

    // IUnknown, without counting.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }

    // ISampleGrabberCB. SampleCB does nothing; BufferCB sends the buffer as described above and
    // returns 0 in every case. The sample time is not used.
    STDMETHODIMP SampleCB(double sampleTime, IMediaSample* pSample) noexcept override;
    STDMETHODIMP BufferCB(double sampleTime, BYTE* pBuffer, long bufferLen) noexcept override;

    // The window frames are sent to; null sends nothing.
    void SetWindow(HWND hwnd) { m_hwnd.store(hwnd); }
    HWND GetWindow() const { return m_hwnd.load(); }

    // Frames sent, and frames whose send gave up at the 50 ms limit (or met a hung window).
    long SentCount() const { return m_nSent.load(); }
    long TimedOutCount() const { return m_nTimedOut.load(); }

    static constexpr UINT kSendTimeoutMs = 50;

private:
    CFrameHandoff& m_handoff;
    std::atomic<HWND> m_hwnd{nullptr};
    std::mutex m_deliver; // one offer at a time, should the grabber ever call from two threads
    std::atomic<long> m_nSent{0};
    std::atomic<long> m_nTimedOut{0};
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
