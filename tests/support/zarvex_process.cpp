#include "zarvex_process.h"

#include <string>

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

ZarvexProcess::ZarvexProcess(const wchar_t* name) : m_name(name), m_folder(MakeTempFolder(L"app")) {
    if (m_folder.empty())
        m_failure = "no temporary folder could be made";
    else if (!CopyFileW((BinDir() + L"Zarvex.exe").c_str(), (m_folder + m_name + L".exe").c_str(), FALSE))
        m_failure =
            "copying Zarvex.exe into the test's folder failed with error " + std::to_string(GetLastError());
}

ZarvexProcess::~ZarvexProcess() {
    if (IsRunning()) {
        if (m_hwnd)
            PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        if (!WaitForExit(5000))
            Kill();
    }
    if (!m_folder.empty())
        RemoveFolder(m_folder);
}

bool ZarvexProcess::Start(DWORD timeoutMs) {
    if (!m_failure.empty())
        return false;
    ChildProcess::Options options;
    options.folder = m_folder;
    if (!m_process.Start(m_folder + m_name + L".exe", options)) {
        m_failure = m_process.Error();
        return false;
    }
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        m_hwnd = FindOwnWindow(L"#32770", L"Zarvex");
        if (m_hwnd)
            return true;
        if (!IsRunning()) {
            m_failure = "the program ended before its dialog showed";
            return false;
        }
        Sleep(50);
    }
    m_failure = "the program did not show its dialog within " + std::to_string(timeoutMs) + " ms";
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
