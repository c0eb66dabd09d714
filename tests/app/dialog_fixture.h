// Runs the real main dialog inside the test process, on a thread of its own, so a test can reach
// its members and everything a window of the same process can be asked (menus, icons).
#pragma once

#include <windows.h>

#include "ZarvexDlg.h"

namespace testing_support {

class DialogThread {
public:
    // Starts the dialog and waits for its window; window() is null when it did not appear.
    DialogThread();
    // Closes the dialog (as the exit button would) and joins the thread.
    ~DialogThread();
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;

    HWND window() const { return m_hwnd; }
    HWND item(int id) const { return GetDlgItem(m_hwnd, id); }
    CZarvexDlg& dialog() { return *m_dlg; }

private:
    static DWORD WINAPI Run(void* self);

    CZarvexDlg* m_dlg = nullptr;
    HANDLE m_ready = nullptr;
    HANDLE m_thread = nullptr;
    HWND m_hwnd = nullptr;
};

} // namespace testing_support
