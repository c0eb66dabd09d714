#include "FrameGrabber.h"

#include <cstring>
#include <utility>

namespace viewer {

STDMETHODIMP CFrameGrabber::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CFrameGrabber::BufferCB(double, BYTE* pBuffer, long length) noexcept {
    if (!pBuffer || length <= 0)
        return S_OK;
    try {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_cbFrame == 0 || static_cast<size_t>(length) < m_cbFrame)
            return S_OK; // not (yet) a whole picture of the connection's size
        // After the first frames the window hands back a buffer of the same size, so this
        // allocates nothing while the format stays.
        m_latest.pixels.resize(m_cbFrame);
        std::memcpy(m_latest.pixels.data(), pBuffer, m_cbFrame);
        ++m_latest.serial;
        if (m_hwnd && !m_notified) {
            // A window that is already gone cannot be told; the next frame tries again.
            m_notified = PostMessageW(m_hwnd, m_message, 0, 0) != FALSE;
        }
    } catch (...) {
        // No memory for the copy: this frame is lost, the stream goes on.
    }
    return S_OK;
}

void CFrameGrabber::SetFormat(const BITMAPINFOHEADER& header) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_latest.header = header;
    const LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    m_cbFrame = Rgb24Stride(header.biWidth) * static_cast<size_t>(height);
    m_latest.header.biSizeImage = static_cast<DWORD>(m_cbFrame);
}

void CFrameGrabber::Attach(HWND hwnd, UINT message) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_hwnd = hwnd;
    m_message = message;
    m_notified = false;
}

void CFrameGrabber::Detach() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_hwnd = nullptr;
}

bool CFrameGrabber::TakeLatest(VideoFrame* pFrame) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_notified = false;
    if (m_latest.serial == pFrame->serial || m_latest.pixels.size() != m_cbFrame)
        return false;
    // Swapping hands the window's old buffer back for the next delivery.
    std::swap(m_latest.pixels, pFrame->pixels);
    pFrame->header = m_latest.header;
    pFrame->serial = m_latest.serial;
    return true;
}

unsigned long long CFrameGrabber::Delivered() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_latest.serial;
}

} // namespace viewer
