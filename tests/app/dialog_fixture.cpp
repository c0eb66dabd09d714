#include "dialog_fixture.h"

namespace testing_support {

DialogThread::DialogThread() {
    m_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, &DialogThread::Run, this, 0, nullptr);
    if (!m_thread)
        return;
    WaitForSingleObject(m_ready, 10000);
    for (int i = 0; i < 500 && !m_hwnd; ++i) {
        HWND hwnd = FindWindowW(L"#32770", L"Zarvex");
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (hwnd && pid == GetCurrentProcessId() && IsWindowVisible(hwnd))
            m_hwnd = hwnd;
        else
            Sleep(20);
    }
}

DialogThread::~DialogThread() {
    if (m_hwnd && IsWindow(m_hwnd)) {
        EnableWindow(GetDlgItem(m_hwnd, IDCANCEL), TRUE);
        PostMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    if (m_thread) {
        WaitForSingleObject(m_thread, 10000);
        CloseHandle(m_thread);
    }
    if (m_ready)
        CloseHandle(m_ready);
}

DWORD WINAPI DialogThread::Run(void* param) {
    auto* self = static_cast<DialogThread*>(param);
    CZarvexDlg dlg(nullptr);
    self->m_dlg = &dlg;
    SetEvent(self->m_ready);
    dlg.DoModal();
    return 0;
}

} // namespace testing_support
