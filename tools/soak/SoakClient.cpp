#include "SoakClient.h"

#include "ViewerProtocol.h"

namespace soak {

namespace {

struct FindArgs {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindViewerWindow(HWND hwnd, LPARAM param) {
    auto* args = reinterpret_cast<FindArgs*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t name[64] = {};
    if (pid == args->pid && GetClassNameW(hwnd, name, 64) && lstrcmpW(name, viewer::kWindowClass) == 0) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Less running time than this in a minute says nothing about the device's rate.
constexpr unsigned long long kMinRunningMs = 5000;

} // namespace

CSoakClient::CSoakClient(const std::wstring& binDir, SIZE size)
    : m_exe(binDir + L"ZarvexViewer.exe"), m_size(size) {}

bool CSoakClient::Start(DWORD timeoutMs, std::wstring* pWhy) {
    Kill();
    m_process.reset(); // the ended viewer's output reader is joined here
    m_process = std::make_unique<proc::ChildProcess>();
    proc::ChildProcess::Options options;
    options.args = L"--size " + std::to_wstring(m_size.cx) + L"x" + std::to_wstring(m_size.cy);
    // With pipes it has an error stream: a viewer without one shows its errors in message boxes,
    // which would wait for a user.
    options.pipes = true;
    if (!m_process->Start(m_exe, options)) {
        *pWhy = std::wstring(m_process->Error().begin(), m_process->Error().end());
        return false;
    }
    m_process->CloseInput();
    m_frames = m_runningMs = 0;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < timeoutMs) {
        if (!m_process->IsRunning()) {
            *pWhy = L"ZarvexViewer.exe ended with exit code " + std::to_wstring(m_process->ExitCode());
            return false;
        }
        FindArgs args = {m_process->Id(), nullptr};
        EnumWindows(&FindViewerWindow, reinterpret_cast<LPARAM>(&args));
        m_window = args.found;
        unsigned long long frames = 0, ms = 0;
        if (m_window && Ask(&frames, &ms) && ms > 0)
            return true;
        Sleep(100);
    }
    *pWhy = L"ZarvexViewer.exe did not run its graph within " + std::to_wstring(timeoutMs / 1000) + L" s";
    return false;
}

void CSoakClient::Kill() {
    if (!IsRunning())
        return;
    Count();
    m_process->Kill(99);
    m_window = nullptr;
}

void CSoakClient::Close(DWORD timeoutMs) {
    if (!IsRunning())
        return;
    Count();
    if (m_window)
        (void)PostMessageW(m_window, WM_CLOSE, 0, 0); // a window that has gone: the kill below
    if (!m_process->WaitForExit(timeoutMs))
        m_process->Kill(99);
    m_window = nullptr;
}

bool CSoakClient::Ask(unsigned long long* pFrames, unsigned long long* pRunningMs) {
    DWORD_PTR frames = 0, ms = 0;
    if (!m_window ||
        !SendMessageTimeoutW(m_window, viewer::kQueryMessage, viewer::kAskDelivered, 0, SMTO_ABORTIFHUNG,
                             5000, &frames) ||
        !SendMessageTimeoutW(m_window, viewer::kQueryMessage, viewer::kAskRunningMs, 0, SMTO_ABORTIFHUNG,
                             5000, &ms))
        return false;
    *pFrames = frames;
    *pRunningMs = ms;
    return true;
}

void CSoakClient::Count() {
    unsigned long long frames = 0, ms = 0;
    if (!IsRunning() || !Ask(&frames, &ms) || ms < m_runningMs)
        return;
    m_minuteFrames += frames - m_frames;
    m_minuteMs += ms - m_runningMs;
    m_frames = frames;
    m_runningMs = ms;
}

double CSoakClient::TakeMinute() {
    Count();
    const double fps = m_minuteMs >= kMinRunningMs
                           ? static_cast<double>(m_minuteFrames) * 1000.0 / static_cast<double>(m_minuteMs)
                           : -1;
    m_minuteFrames = m_minuteMs = 0;
    return fps;
}

std::string CSoakClient::TakeOutput() {
    std::string text, line;
    while (m_process && m_process->ReadLine(&line, 0))
        text += line + "\n";
    return text;
}

} // namespace soak
