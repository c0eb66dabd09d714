#include "GraphThread.h"

#include <cstdio>
#include <utility>

#include "ComScope.h"
#include "FrameGrabber.h"
#include "PreviewGraph.h"
#include "VideoInputDevices.h"
#include "ViewerProtocol.h"

namespace viewer {

CGraphThread::CGraphThread(std::wstring device, SIZE size, CFrameGrabber* pGrabber, HWND hwnd, UINT message)
    : m_device(std::move(device)), m_size(size), m_pGrabber(pGrabber), m_hwnd(hwnd), m_message(message),
      m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CGraphThread::~CGraphThread() {
    if (!StopAndJoin(kStopTimeoutMs)) {
        // Ending the process is the one bounded way out (see the header): TerminateProcess rather
        // than ExitProcess, which would first run the modules' detach code beside the stuck thread.
        (void)TerminateProcess(GetCurrentProcess(), kExitStopTimedOut);
    }
}

bool CGraphThread::Start() {
    if (!m_stop || m_thread)
        return false;
    m_thread.reset(CreateThread(nullptr, 0, &CGraphThread::ThreadMain, this, 0, nullptr));
    return m_thread.is_valid();
}

void CGraphThread::RequestStop() {
    if (m_stop)
        (void)SetEvent(m_stop.get()); // our own event: cannot fail
}

bool CGraphThread::StopAndJoin(DWORD timeoutMs) {
    if (!m_thread)
        return true;
    RequestStop();
    if (WaitForSingleObject(m_thread.get(), timeoutMs) != WAIT_OBJECT_0)
        return false;
    m_thread.reset();
    return true;
}

CGraphThread::Report CGraphThread::Latest() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_report;
}

DWORD WINAPI CGraphThread::ThreadMain(void* pThis) noexcept {
    CGraphThread* self = static_cast<CGraphThread*>(pThis);
    try {
        self->Run();
    } catch (...) {
        // Only an allocation can throw here; the report says so if it can still be made.
        try {
            self->Fail(kExitDeviceFailed, L"out of memory");
        } catch (...) {
        }
    }
    return 0;
}

void CGraphThread::Publish(const Report& report) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_report = report;
    }
    // A window that is gone has stopped listening; the report stays readable.
    (void)PostMessageW(m_hwnd, m_message, 0, 0);
}

void CGraphThread::Fail(int exitCode, const std::wstring& text) {
    Report report;
    report.state = State::Failed;
    report.exitCode = exitCode;
    report.text = text;
    Publish(report);
}

void CGraphThread::Run() {
    win::ComScope com(COINIT_MULTITHREADED);
    if (!com.ok()) {
        wchar_t text[64];
        std::swprintf(text, 64, L"COM cannot start (0x%08lx)", static_cast<unsigned long>(com.hr()));
        Fail(kExitDeviceFailed, text);
        return;
    }
    Microsoft::WRL::ComPtr<IBaseFilter> device;
    HRESULT hr = OpenVideoInputDevice(m_device, &device);
    if (hr == S_FALSE) {
        std::wstring names;
        for (const std::wstring& name : ListVideoInputDevices())
            names += (names.empty() ? L"\"" : L", \"") + name + L"\"";
        Fail(kExitNoDevice, L"no video input device is named \"" + m_device + L"\" (" +
                                (names.empty() ? std::wstring(L"there is none") : L"there are " + names) +
                                L")");
        return;
    }
    if (FAILED(hr)) {
        wchar_t text[64];
        std::swprintf(text, 64, L" cannot be opened (0x%08lx)", static_cast<unsigned long>(hr));
        Fail(kExitDeviceFailed, L"\"" + m_device + L"\"" + text);
        return;
    }

    CPreviewGraph graph;
    std::wstring why;
    if (FAILED(graph.Build(device.Get(), m_size, m_pGrabber, &why))) {
        Fail(kExitDeviceFailed, L"\"" + m_device + L"\": " + why);
        return;
    }
    device.Reset(); // the graph holds the device now
    m_pGrabber->SetFormat(graph.Format());
    if (FAILED(hr = graph.Run())) {
        wchar_t text[64];
        std::swprintf(text, 64, L" does not run (0x%08lx)", static_cast<unsigned long>(hr));
        Fail(kExitDeviceFailed, L"\"" + m_device + L"\"" + text);
        return;
    }
    Report running;
    running.state = State::Running;
    running.format = graph.Format();
    running.frameTime = graph.FrameTime();
    Publish(running);

    // Until the window asks to stop: the graph's events, of which only an end of the stream or a
    // lost device matter to a viewer.
    const HANDLE waits[2] = {m_stop.get(), graph.EventHandle()};
    const DWORD count = waits[1] ? 2 : 1;
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
        if (woke != WAIT_OBJECT_0 + 1)
            break; // the stop event, or a wait that failed: stopping is all that is left
        std::wstring what;
        if (graph.TakeStreamEnd(&what)) {
            Report ended = running;
            ended.state = State::Ended;
            ended.text = what;
            Publish(ended);
        }
    }
    (void)graph.Stop(); // the graph and its filters go with `graph` whatever Stop answered
}

} // namespace viewer
