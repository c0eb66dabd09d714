// CGraphThread: the thread that owns the viewer's DirectShow side. It finds the device, builds and
// runs the preview graph, watches the graph's events, and stops and releases the graph when asked.
// Its reports reach the window as a posted message; the window then reads Latest().
//
// Threading: Start, RequestStop, StopAndJoin and Latest run on the window's thread. The graph
// thread does all COM work in its own multithreaded apartment, so the window's thread never waits
// on a graph call and a device that hangs cannot freeze the window. m_lock guards m_report.
// The object owns the thread: StopAndJoin waits a bounded time, and the destructor ends the
// process when the thread is still running after that (see ~CGraphThread).
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

#include "UniqueAny.h"

namespace viewer {

class CFrameGrabber;

class CGraphThread {
public:
    enum class State {
        Opening, // looking for the device and building the graph
        Running, // the graph runs; format and frame time are known
        Ended,   // the stream ended or the device was lost while running; text says how
        Failed,  // the device was not found or could not be started; exitCode and text say why
    };
    struct Report {
        State state = State::Opening;
        int exitCode = 0;
        std::wstring text;
        BITMAPINFOHEADER format = {};
        LONGLONG frameTime = 0; // the connection's AvgTimePerFrame, 100 ns units; 0 when it gives none
    };

    // Reports are posted to hwnd as `message` (no parameters); pGrabber gets the frames.
    CGraphThread(std::wstring device, SIZE size, CFrameGrabber* pGrabber, HWND hwnd, UINT message);
    // Stops and joins the thread. If it does not end within kStopTimeoutMs, the process is ended
    // at once: the thread still uses this object and the graph, so neither may be freed, and a
    // device stuck in its stop must not keep the viewer alive.
    ~CGraphThread();
    CGraphThread(const CGraphThread&) = delete;
    CGraphThread& operator=(const CGraphThread&) = delete;

    static constexpr DWORD kStopTimeoutMs = 10000;

    bool Start();
    void RequestStop();
    // Asks the thread to stop and waits for it at most timeoutMs; true when it has ended.
    bool StopAndJoin(DWORD timeoutMs);
    Report Latest();

private:
    static DWORD WINAPI ThreadMain(void* pThis) noexcept;
    void Run();
    void Publish(const Report& report);
    void Fail(int exitCode, const std::wstring& text);

    const std::wstring m_device;
    const SIZE m_size;
    CFrameGrabber* const m_pGrabber;
    const HWND m_hwnd;
    const UINT m_message;

    win::UniqueHandle m_stop; // manual reset: set once, seen by every wait after
    win::UniqueHandle m_thread;
    std::mutex m_lock;
    Report m_report;
};

} // namespace viewer
