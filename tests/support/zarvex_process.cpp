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
}

bool ZarvexProcess::Start(DWORD timeoutMs) {
    ChildProcess::Options options;
    options.folder = m_folder;
    if (!m_process.Start(m_folder + L"Zarvex.exe", options))
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
    return m_process.WaitForExit(timeoutMs);
}

bool ZarvexProcess::IsRunning() const {
    return m_process.IsRunning();
}

void ZarvexProcess::Kill() {
    m_process.Kill(99);
}

std::wstring ZarvexProcess::ItemText(int id) const {
    wchar_t text[256] = {};
    // WM_GETTEXT crosses processes; GetWindowText would not ask another process's controls.
    SendMessageW(Item(id), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

HWND ZarvexProcess::FindOwnWindow(const wchar_t* className, const wchar_t* title) const {
    FindArgs args = {m_process.Id(), className, title, nullptr};
    EnumWindows(&FindProc, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

} // namespace testing_support
