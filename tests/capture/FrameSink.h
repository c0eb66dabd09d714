// CFrameSink: a window on a thread of its own that receives WM_CAPTURE_FRAME the way the dialog
// does: it claims each frame from a CFrameHandoff and, for a claimed one, reads the test camera's
// sequence number from the bits. It stands in for the dialog where a test drives the grabber
// callback or a capture graph directly.
//
// Threading: the window lives on an owned thread with its own message loop; the test thread reads
// the records under a lock, and may make the window thread busy (Busy) or slow to let a claim go
// (SetHoldMs).
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "FrameHandoff.h"
#include "UniqueAny.h"
#include "afx_thread.h"
#include "testcam_code.h"
#include "wait_until.h"

class CFrameSink {
public:
    struct Record {
        bool claimed = false;
        bool decoded = false;
        std::uint32_t sequence = 0;
        size_t length = 0;    // lParam
        bool intact = true;   // the bits read the same at the end of a held claim as at its start
        LONGLONG counter = 0; // performance counter when the message was handled
    };

    CFrameSink() {
        m_thread = AfxBeginOwnedThread(&CFrameSink::Run, this);
        if (m_thread)
            WaitForSingleObject(m_ready.get(), 10000);
    }
    ~CFrameSink() {
        if (m_hwnd)
            PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        if (m_thread)
            m_thread->Join(10000);
    }
    CFrameSink(const CFrameSink&) = delete;
    CFrameSink& operator=(const CFrameSink&) = delete;

    HWND Window() const { return m_hwnd; }

    // Where frames are claimed, and the picture size their bits are decoded at.
    void Attach(CFrameHandoff* handoff, int width, int height) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pHandoff = handoff;
        m_width = width;
        m_height = height;
    }
    // How long a claim is held after its bits were first read (0: let go at once).
    void SetHoldMs(DWORD ms) { m_holdMs = ms; }
    // Keeps the window thread busy for ms milliseconds, starting as soon as it takes the request.
    void Busy(DWORD ms) { PostMessageW(m_hwnd, kBusyMessage, ms, 0); }
    // Waits until the window thread has handled everything sent or posted to it before this call.
    void Flush() { SendMessageW(m_hwnd, WM_NULL, 0, 0); }

    std::vector<Record> Records() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }
    size_t Count() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records.size();
    }
    size_t ClaimedCount() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (const Record& r : m_records)
            n += r.claimed ? 1 : 0;
        return n;
    }
    // Waits until at least n frames were claimed or timeoutMs passed; true when they were.
    bool WaitForClaimed(size_t n, DWORD timeoutMs) const {
        return testing_support::WaitUntil([&] { return ClaimedCount() >= n; }, timeoutMs, 5);
    }

private:
    static constexpr UINT kBusyMessage = WM_APP + 1;

    static UINT __cdecl Run(LPVOID param) {
        auto* self = static_cast<CFrameSink*>(param);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &CFrameSink::WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ZarvexTestFrameSink";
        RegisterClassW(&wc); // a second sink finds the class already there
        self->m_hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       wc.hInstance, self);
        SetEvent(self->m_ready.get());
        if (!self->m_hwnd)
            return 1;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        return 0;
    }

    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrW(
                hwnd, GWLP_USERDATA,
                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<CFrameSink*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (msg) {
        case WM_CAPTURE_FRAME:
            self->OnFrame(wParam, lParam);
            return 0;
        case kBusyMessage:
            Sleep(static_cast<DWORD>(wParam));
            return 0;
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        }
    }

    void OnFrame(WPARAM wParam, LPARAM lParam) {
        Record r;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        r.counter = now.QuadPart;
        r.length = static_cast<size_t>(lParam);
        CFrameHandoff* handoff;
        int width, height;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            handoff = m_pHandoff;
            width = m_width;
            height = m_height;
        }
        if (handoff) {
            const CFrameHandoff::CClaim claim =
                handoff->Claim(reinterpret_cast<const void*>(wParam), r.length);
            r.claimed = static_cast<bool>(claim);
            if (claim) {
                const size_t need =
                    static_cast<size_t>(TestCamStride(width)) * (height < 0 ? -height : height);
                if (width > 0 && claim.Length() >= need)
                    r.decoded = TestCamDecodeSequence(claim.Bits(), width, height, &r.sequence);
                if (m_holdMs) {
                    const std::vector<BYTE> before(claim.Bits(), claim.Bits() + claim.Length());
                    Sleep(m_holdMs);
                    r.intact = std::equal(before.begin(), before.end(), claim.Bits());
                }
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records.push_back(r);
    }

    win::UniqueHandle m_ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::unique_ptr<CWinThread> m_thread;
    HWND m_hwnd = nullptr;
    std::atomic<DWORD> m_holdMs{0};
    mutable std::mutex m_mutex;
    CFrameHandoff* m_pHandoff = nullptr;
    int m_width = 0;
    int m_height = 0;
    std::vector<Record> m_records;
};
