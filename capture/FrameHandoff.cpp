#include "FrameHandoff.h"

void CFrameHandoff::CClaim::Release() {
    if (m_pOwner)
        m_pOwner->EndClaim();
    m_pOwner = nullptr;
}

void CFrameHandoff::Offer(const BYTE* bits, size_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pBits = bits;
    m_cb = length;
    m_state = State::Offered;
}

void CFrameHandoff::Withdraw() {
    std::unique_lock<std::mutex> lock(m_mutex);
    // Not bounded: returning now would hand the buffer back while the window thread reads it. The
    // handler holds a claim for one frame's store, a few milliseconds.
    m_claimEnded.wait(lock, [this] { return m_state != State::Claimed; });
    m_state = State::Empty;
    m_pBits = nullptr;
    m_cb = 0;
}

CFrameHandoff::CClaim CFrameHandoff::Claim(const void* bits, size_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::Offered || !bits || bits != m_pBits || length != m_cb) {
        ++m_nRefused;
        return CClaim();
    }
    m_state = State::Claimed;
    ++m_nClaimed;
    return CClaim(this, m_pBits, m_cb);
}

void CFrameHandoff::EndClaim() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = State::Taken;
    }
    m_claimEnded.notify_all();
}
