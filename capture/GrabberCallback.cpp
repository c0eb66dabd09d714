#include "GrabberCallback.h"

STDMETHODIMP CGrabberCallback::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CGrabberCallback::SampleCB(double /*sampleTime*/, IMediaSample* /*pSample*/) noexcept {
    return S_OK;
}

STDMETHODIMP CGrabberCallback::BufferCB(double /*sampleTime*/, BYTE* pBuffer, long bufferLen) noexcept {
    const HWND hwnd = m_hwnd.load();
    if (!hwnd || !pBuffer)
        return S_OK;
    const size_t length = bufferLen > 0 ? static_cast<size_t>(bufferLen) : 0;
    std::lock_guard<std::mutex> deliver(m_deliver);
    m_handoff.Offer(pBuffer, length);
    DWORD_PTR result = 0;
    ++m_nSent;
    if (!SendMessageTimeoutW(hwnd, WM_CAPTURE_FRAME, reinterpret_cast<WPARAM>(pBuffer),
                             static_cast<LPARAM>(length), SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result))
        ++m_nTimedOut;
    m_handoff.Withdraw();
    return S_OK;
}
