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

// Removes a folder and everything in it. An executable whose process has only just ended may
// stay busy for a moment, so each file gets a few tries.
void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const win::UniqueFindHandle search(FindFirstFileW((folder + L"*").c_str(), &found));
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolder(path + L"\\");
                continue;
            }
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            for (int attempt = 0; attempt < 50 && !DeleteFileW(path.c_str()); ++attempt)
                Sleep(20);
        } while (FindNextFileW(search.get(), &found));
    }
    RemoveDirectoryW(folder.c_str());
}

} // namespace

ZarvexProcess::ZarvexProcess() : m_folder(MakeTempFolder(L"app")) {
    if (m_folder.empty())
        m_failure = "no temporary folder could be made";
    else if (!CopyFileW((BinDir() + L"Zarvex.exe").c_str(), (m_folder + L"Zarvex.exe").c_str(), FALSE))
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
    if (!m_process.Start(m_folder + L"Zarvex.exe", options)) {
        m_failure = m_process.Error();
        return false;
    }
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        m_hwnd = FindOwnWindow(L"#32770", L"Zarvex");
        if (m_hwnd)
            return true;
        if (!IsRunning()) {
            m_failure = "Zarvex.exe ended before its dialog showed";
            return false;
        }
        Sleep(50);
    }
    m_failure = "Zarvex.exe did not show its dialog within " + std::to_string(timeoutMs) + " ms";
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
