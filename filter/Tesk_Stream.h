// CTesk_Stream: ZarvexDevice's output pin "RGB Out". It serves uncompressed 24-bit RGB at the seven
// ResolutionTable sizes, filling each sample with the latest frame of the shared frame channel (or
// the placeholder picture while the capture program is away), paced at its frame time. A client's
// choice of format travels back into the channel, with WM_CAMERA_FORMAT to the capture program.
//
// Threading:
// - Application threads call IAMStreamConfig, IKsPropertySet, ISpecifyPropertyPages and
//   IZarvexSettings, and connect the pin. Everything that reads or writes the current format
//   (m_mt) or the connection's frame size does so under the filter lock.
// - The worker thread (CSourceStream) runs FillBuffer. It never takes the filter lock: a state
//   change holds that lock while it waits for the worker's reply. It reads the frame time under
//   m_csFrameTime (a 64-bit value that application threads change while it streams), takes the
//   connection's frame size once in OnThreadCreate (the thread that starts it holds the filter lock
//   then), and otherwise uses only its own members (stream time, scheduler, last frame, pending
//   flag). While it waits for a sample's time it looks at the channel's FrameReady about once a
//   millisecond, with a lock that does not wait, so that each frame's arrival is known and a fresh
//   frame can leave as it arrives.
// - The channel's named mutex is the innermost lock: it is taken with the filter lock held (format
//   announcements, placeholder) but nothing is ever waited for while holding it, and m_csFrameTime
//   is never held around it.
#pragma once

#include "DShowHeaders.h"

#include <memory>
#include <vector>

#include "CaptureStream.h"
#include "FrameScheduler.h"
#include "PerformanceClock.h"
#include "SharedMem.h"
#include "ZarvexSettings.h"

class CTesk_Capture;

COM_CLASSES_BEGIN
class CTesk_Stream : public CCaptureStream, public IZarvexSettings, public ISpecifyPropertyPages {
public:
    CTesk_Stream(HRESULT* phr, CTesk_Capture* pParent, LPCWSTR pPinName);
    ~CTesk_Stream() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IAMStreamConfig (the rest, and IKsPropertySet, are CCaptureStream's)
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override;

    // IZarvexSettings
    STDMETHODIMP GetSize(int* pSize) override;
    STDMETHODIMP SetSize(int* pSize) override;
    STDMETHODIMP SetSelectPixel(int index) override;
    STDMETHODIMP GetFrameRate(double* pFps) override;
    STDMETHODIMP SetFrameRate(double fps) override;

    // CSourceStream / CBasePin
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT GetMediaType(CMediaType* pMediaType) override;
    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT SetMediaType(const CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) override;
    HRESULT FillBuffer(IMediaSample* pSample) override;
    HRESULT OnThreadCreate() override;

    // The type of ResolutionTable[index] at the pin's frame time; E_INVALIDARG outside the table.
    HRESULT BuildFormat(int index, CMediaType* pmt);
    // Paints the placeholder at the current format's size into the channel and marks it a new frame,
    // unless the capture program's window is alive.
    void PaintPlaceholder();

    // Sample duration and pacing interval, 100-ns units.
    REFERENCE_TIME FrameTime();

    // Buffers asked of the allocator at the least (see DecideBufferSize).
    static constexpr long kMinBuffers = 3;
    static constexpr REFERENCE_TIME kMinFrameTime = 333333;   // 30 frames per second
    static constexpr REFERENCE_TIME kMaxFrameTime = 10000000; // 1 frame per second

protected:
    // CCaptureStream: one capability per ResolutionTable row.
    int CapabilityCount() override;
    HRESULT GetCapability(int iIndex, CMediaType* pmt, VIDEO_STREAM_CONFIG_CAPS* pCaps) override;

private:
    void SetFrameTime(REFERENCE_TIME rtFrameTime);
    // Worker: whether the writer published a frame since the previous look. A frame seen is taken
    // note of (FrameReady cleared, m_bFramePending set) so that the next one shows up on its own,
    // and is copied when the sample leaves. Looks without waiting: a channel busy this moment is
    // looked at again a millisecond later.
    bool NoticeNewFrame();
    // Writes the format into the channel header, sets flag and posts WM_CAMERA_FORMAT (wParam) to a
    // live owner window. rtInterval is what the header's interval gets (low 32 bits).
    void AnnounceFormat(const BITMAPINFOHEADER& bmi, REFERENCE_TIME rtInterval, uint32_t flag, WPARAM wParam);
    // Worker, after each sample is filled: the header's owner window as read under the lock. When a
    // window seen alive at the previous look is gone, the last frame becomes the placeholder, which
    // the following samples repeat until a frame is published again.
    void NoticeOwner(uint32_t hwndOwner);

    CTesk_Capture* const m_pParent;
    REFERENCE_TIME m_rtStreamTime = 0; // worker: start time of the next sample
    std::unique_ptr<CSharedMem> m_pChannel;
    CPerformanceClock m_clock;
    CFrameScheduler m_scheduler{m_clock}; // worker: when each sample leaves

    CCritSec m_csFrameTime;
    REFERENCE_TIME m_rtFrameTime; // guarded by m_csFrameTime

    // Bytes of one frame of the connection's format, capped at the channel's pixel area. Written
    // under the filter lock when the pin is given a format; the worker copies it in OnThreadCreate.
    DWORD m_cbConnected = 0;
    SIZE m_szConnected = {0, 0}; // the same format's width and height
    // Worker: the frame size it streams and the last frame it delivered. Samples are filled from
    // this copy whenever the channel has no new frame, so the last frame repeats whatever buffer
    // the allocator hands out next (there are several, and a peer's allocator may reuse them in
    // any order).
    DWORD m_cbFrame = 0;
    SIZE m_szFrame = {0, 0};
    std::vector<BYTE> m_lastFrame;
    // Worker: the owner window was alive at the last look (NoticeOwner).
    bool m_bOwnerWasAlive = false;
    // Worker: a frame was published (FrameReady seen and cleared) that no sample has carried yet.
    bool m_bFramePending = false;
};
COM_CLASSES_END
