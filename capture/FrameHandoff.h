// CFrameHandoff: how a grabbed frame's buffer passes from the capture graph's streaming thread to
// the window thread, and how it is never read once the streaming thread has taken it back.
//
// The streaming thread offers the buffer, sends WM_CAPTURE_FRAME (wParam = the buffer,
// lParam = its length) with a 50 ms limit, and withdraws the offer when the send returns. A send
// that times out still leaves its message in the window's queue, and the window thread may handle
// it later, when the buffer already holds another sample or is gone. So the handler does not
// trust wParam: it claims the frame, and gets it only while that very buffer (same address, same
// length) is on offer and not yet taken. A claimed frame stays valid until the claim goes: a
// withdrawal that meets a claim being read waits for it.
//
// Threading: Offer and Withdraw run on the streaming thread (one delivery at a time); Claim and
// the claim's end on the window thread. One small lock guards the offer; the only wait is
// Withdraw's, for a claim in progress, which lasts as long as the handler's one frame. Nothing is
// allocated per frame.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

// Sent by the capture graph to its window for every grabbed frame: wParam = the pixels,
// lParam = their length in bytes.
#define WM_CAPTURE_FRAME 0x1D00

class CFrameHandoff {
public:
    // A claimed frame: its bits may be read until this object goes.
    class CClaim {
    public:
        CClaim() = default;
        ~CClaim() { Release(); }
        CClaim(CClaim&& other) noexcept : m_pOwner(other.m_pOwner), m_pBits(other.m_pBits), m_cb(other.m_cb) {
            other.m_pOwner = nullptr;
        }
        CClaim& operator=(CClaim&&) = delete;
        CClaim(const CClaim&) = delete;
        CClaim& operator=(const CClaim&) = delete;

        explicit operator bool() const { return m_pOwner != nullptr; }
        const BYTE* Bits() const { return m_pBits; }
        size_t Length() const { return m_cb; }

    private:
        friend class CFrameHandoff;
        CClaim(CFrameHandoff* owner, const BYTE* bits, size_t length)
            : m_pOwner(owner), m_pBits(bits), m_cb(length) {}
        void Release();

        CFrameHandoff* m_pOwner = nullptr;
        const BYTE* m_pBits = nullptr;
        size_t m_cb = 0;
    };

    CFrameHandoff() = default;
    CFrameHandoff(const CFrameHandoff&) = delete;
    CFrameHandoff& operator=(const CFrameHandoff&) = delete;

    // Streaming thread: the buffer may be claimed from now on, once.
    void Offer(const BYTE* bits, size_t length);
    // Streaming thread: the buffer goes back to its owner. Waits while a claim of it is read.
    void Withdraw();

    // Window thread: the frame at bits of length bytes, if it is on offer right now and unclaimed;
    // otherwise an empty claim (a late message, a foreign sender, a second message for one frame).
    CClaim Claim(const void* bits, size_t length);

    // Frames claimed so far, and messages refused because their frame was no longer on offer.
    long ClaimedCount() const { return m_nClaimed.load(); }
    long RefusedCount() const { return m_nRefused.load(); }

private:
    enum class State { Empty, Offered, Claimed, Taken };

    void EndClaim();

    std::mutex m_mutex;
    std::condition_variable m_claimEnded;
    State m_state = State::Empty;
    const BYTE* m_pBits = nullptr;
    size_t m_cb = 0;
    std::atomic<long> m_nClaimed{0};
    std::atomic<long> m_nRefused{0};
};
