#include "zarvex_process.h"

#include "test_paths.h"

namespace testing_support {

namespace {

struct FindArgs {
    DWORD pid;
    const wchar_t* className;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK FindProc(HWND hwnd, LPARAM param) {
    auto* args = reinterpret_cast<FindArgs*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != args->pid || !IsWindowVisible(hwnd))
        return TRUE;
    wchar_t cls[64] = {}, text[256] = {};
    GetClassNameW(hwnd, cls, 64);
    GetWindowTextW(hwnd, text, 256);
    if (lstrcmpiW(cls, args->className) == 0 && lstrcmpW(text, args->title) == 0) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

ZarvexProcess::ZarvexProcess() : m_folder(MakeTempFolder(L"app")) {
    CopyFileW((BinDir() + L"Zarvex.exe").c_str(), (m_folder + L"Zarvex.exe").c_str(), FALSE);
}

ZarvexProcess::~ZarvexProcess() {
    if (IsRunning()) {
        if (m_hwnd)
            PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        if (!WaitForExit(5000))
            Kill();
    }
    if (m_pi.hProcess)
        CloseHandle(m_pi.hProcess);
    if (m_pi.hThread)
        CloseHandle(m_pi.hThread);
}

bool ZarvexProcess::Start(DWORD timeoutMs) {
    std::wstring exe = m_folder + L"Zarvex.exe";
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, m_folder.c_str(), &si,
                        &m_pi))
        return false;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        m_hwnd = FindOwnWindow(L"#32770", L"Zarvex");
        if (m_hwnd)
            return true;
        if (!IsRunning())
            return false;
        Sleep(50);
    }
    return false;
}

bool ZarvexProcess::WaitForExit(DWORD timeoutMs) {
    return !m_pi.hProcess || WaitForSingleObject(m_pi.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

bool ZarvexProcess::IsRunning() const {
    return m_pi.hProcess && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
}

void ZarvexProcess::Kill() {
    if (IsRunning()) {
        TerminateProcess(m_pi.hProcess, 99);
        WaitForSingleObject(m_pi.hProcess, 5000);
    }
}

std::wstring ZarvexProcess::ItemText(int id) const {
    wchar_t text[256] = {};
    // WM_GETTEXT crosses processes; GetWindowText would not ask another process's controls.
    SendMessageW(Item(id), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

HWND ZarvexProcess::FindOwnWindow(const wchar_t* className, const wchar_t* title) const {
    FindArgs args = {m_pi.dwProcessId, className, title, nullptr};
    EnumWindows(&FindProc, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

} // namespace testing_support
