// CFrameGrabber: the sample grabber's callback. It keeps the newest frame the device delivered and
// tells the viewer's window that there is one, without ever painting from the streaming thread.
//
// Threading: BufferCB runs on the source's streaming thread. SetFormat runs on the graph thread
// before the graph runs. Attach, Detach and TakeLatest run on the window's thread. One mutex guards
// every member. At most one notification is in the window's queue at a time: a burst of frames
// while the window is busy costs one message, and the window takes the newest.
//
// Lifetime: it is not reference counted. The viewer's main function owns it and keeps it until the
// graph thread, whose graph holds it, has been joined.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

#include <mutex>
#include <vector>

namespace viewer {

struct VideoFrame {
    BITMAPINFOHEADER header = {};  // 24-bit RGB; height positive for bottom-up rows
    std::vector<BYTE> pixels;      // biSizeImage bytes
    unsigned long long serial = 0; // counts the frames delivered; 0: no frame yet
};

// Bytes per row of a 24-bit RGB image: rows are padded to whole 32-bit words.
inline size_t Rgb24Stride(LONG width) {
    return ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
}

// GCC's -Wnon-virtual-dtor flags every class implementing a COM interface: the interface has no
// virtual destructor because COM objects are never deleted through one.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class CFrameGrabber final : public ISampleGrabberCB {
public:
    CFrameGrabber() = default;
    CFrameGrabber(const CFrameGrabber&) = delete;
    CFrameGrabber& operator=(const CFrameGrabber&) = delete;

    // IUnknown, without counting: see Lifetime above.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }

    // ISampleGrabberCB. The grabber is set to call BufferCB only.
    STDMETHODIMP SampleCB(double, IMediaSample*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP BufferCB(double sampleTime, BYTE* pBuffer, long length) noexcept override;

    // The connection's picture: frames that do not fill it are dropped.
    void SetFormat(const BITMAPINFOHEADER& header);
    // Posts `message` to hwnd when a new frame waits; Detach stops that for good.
    void Attach(HWND hwnd, UINT message);
    void Detach();
    // Moves the newest frame into *pFrame when it is newer than the one *pFrame holds, and lets the
    // next delivery notify again. True when *pFrame changed.
    bool TakeLatest(VideoFrame* pFrame);
    // Frames delivered so far.
    unsigned long long Delivered();

private:
    std::mutex m_lock;
    VideoFrame m_latest; // header set by SetFormat; pixels and serial by BufferCB
    size_t m_cbFrame = 0;
    HWND m_hwnd = nullptr;
    UINT m_message = 0;
    bool m_notified = false;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

} // namespace viewer
