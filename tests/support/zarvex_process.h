// ZarvexProcess: the real Zarvex.exe, run as a separate process from a private folder so that its
// settings file (beside the executable) belongs to the test alone.
#pragma once

#include <windows.h>

#include <string>

#include "child_process.h"

namespace testing_support {

class ZarvexProcess {
public:
    // Copies Zarvex.exe from the build's binary folder into a new temporary folder, as <name>.exe
    // (its settings file is <name>.ini beside it; the platform may keep settings per program
    // name). A failed copy makes Start fail, with the reason in Failure().
    explicit ZarvexProcess(const wchar_t* name = L"Zarvex");
    // Closes the program if it still runs (WM_CLOSE, then TerminateProcess) and removes the folder
    // with everything in it.
    ~ZarvexProcess();
    ZarvexProcess(const ZarvexProcess&) = delete;
    ZarvexProcess& operator=(const ZarvexProcess&) = delete;

    // Starts the program and waits until its main dialog is visible; false on failure or time-out.
    bool Start(DWORD timeoutMs = 30000);
    // Waits for the process to end; false on time-out.
    bool WaitForExit(DWORD timeoutMs);
    bool IsRunning() const;
    void Kill();

    // Why the last Start failed, for the test's message.
    const std::string& Failure() const { return m_failure; }

    HWND Window() const { return m_hwnd; }
    HWND Item(int id) const { return GetDlgItem(m_hwnd, id); }
    std::wstring ItemText(int id) const;
    DWORD ProcessId() const { return m_process.Id(); }
    // The program's exit code once it has ended (0 after a normal shutdown); STILL_ACTIVE before.
    DWORD ExitCode() const { return m_process.ExitCode(); }

    const std::wstring& Folder() const { return m_folder; }
    std::wstring IniPath() const { return m_folder + m_name + L".ini"; }

    // A visible top-level window of this process with the given class and title, or null.
    HWND FindOwnWindow(const wchar_t* className, const wchar_t* title) const;

private:
    std::wstring m_name;
    std::wstring m_folder;
    std::string m_failure;
    ChildProcess m_process;
    HWND m_hwnd = nullptr;
};

} // namespace testing_support
