#include "dialog_fixture.h"

#include <cstdio>
#include <cstdlib>

#include "FrameHandoff.h"
#include "afx_app.h"
#include "test_paths.h"

namespace testing_support {

namespace {

// The settings file of an in-process dialog sits beside the test executable.
class InProcessApp : public CWinApp {
public:
    InProcessApp() { InitModuleNames(GetModuleHandleW(nullptr)); }
};
InProcessApp g_app;

std::wstring SettingsPathW() {
    const CString path = CZarvexDlg::SettingsPath();
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    return wide;
}

void RemoveSettings() {
    SetFileAttributesW(SettingsPathW().c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(SettingsPathW().c_str());
}

} // namespace

DialogThread::DialogThread(const std::optional<std::string>& settings) {
    // The dialog reads its settings in OnInitDialog, so the file must be right before it starts.
    RemoveSettings();
    if (settings && !WriteFileBytes(SettingsPathW(), *settings))
        return;
    m_thread = AfxBeginOwnedThread(&DialogThread::ThreadMain, this);
    if (!m_thread || WaitForSingleObject(m_ready.get(), 10000) != WAIT_OBJECT_0)
        return;
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
    if (!Close()) {
        // The dialog thread still uses this object; freeing it now would only move the failure.
        std::fprintf(stderr, "the main dialog did not end within 10 s of its close request\n");
        std::abort();
    }
    RemoveSettings();
}

bool DialogThread::Close(std::function<void(CZarvexDlg&)> afterClose) {
    if (!m_thread || m_closed)
        return true;
    m_afterClose = std::move(afterClose);
    if (m_hwnd && IsWindow(m_hwnd)) {
        EnableWindow(GetDlgItem(m_hwnd, IDCANCEL), TRUE);
        PostMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    m_closed = m_thread->Join(10000) != FALSE;
    return m_closed;
}

std::optional<std::string> DialogThread::ReadSettings() {
    if (GetFileAttributesW(SettingsPathW().c_str()) == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return ReadFileBytes(SettingsPathW());
}

struct DialogThread::Task {
    std::function<void(CZarvexDlg&)> run;
    CZarvexDlg* dlg;
    win::UniqueHandle done; // null for a posted task, which deletes itself
};

std::atomic<long> DialogThread::s_captureFrames{0};

UINT DialogThread::TaskMessage() {
    static const UINT message = RegisterWindowMessageW(L"ZarvexDialogTestTask");
    return message;
}

LRESULT CALLBACK DialogThread::TaskHook(int code, WPARAM wParam, LPARAM lParam) {
    MSG* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == TaskMessage() && msg->message != 0) {
        Task* task = reinterpret_cast<Task*>(msg->lParam);
        msg->message = WM_NULL; // the dialog never sees it
        task->run(*task->dlg);
        if (task->done)
            SetEvent(task->done.get());
        else
            delete task;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK DialogThread::SentMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    // The dialog is the only window of its thread that is sent frames.
    if (code == HC_ACTION && msg->message == WM_CAPTURE_FRAME)
        ++s_captureFrames;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool DialogThread::Run(std::function<void(CZarvexDlg&)> task) {
    if (!m_hwnd || m_closed)
        return false;
    Task t{std::move(task), m_dlg, win::UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr))};
    if (!t.done || !PostMessageW(m_hwnd, TaskMessage(), 0, reinterpret_cast<LPARAM>(&t)))
        return false;
    if (WaitForSingleObject(t.done.get(), 60000) == WAIT_OBJECT_0)
        return true;
    // The task still points at this frame; nothing can be done for it but stop the run.
    std::fprintf(stderr, "a task on the dialog thread did not end within 60 s\n");
    std::abort();
}

void DialogThread::Post(std::function<void(CZarvexDlg&)> task) {
    if (!m_hwnd || m_closed)
        return;
    Task* t = new Task{std::move(task), m_dlg, win::UniqueHandle()};
    if (!PostMessageW(m_hwnd, TaskMessage(), 0, reinterpret_cast<LPARAM>(t)))
        delete t;
}

UINT __cdecl DialogThread::ThreadMain(LPVOID param) {
    auto* self = static_cast<DialogThread*>(param);
    using UniqueHook = win::UniqueNullable<HHOOK, &::UnhookWindowsHookEx>;
    const UniqueHook tasks(
        SetWindowsHookExW(WH_GETMESSAGE, &DialogThread::TaskHook, nullptr, GetCurrentThreadId()));
    const UniqueHook sent(
        SetWindowsHookExW(WH_CALLWNDPROC, &DialogThread::SentMessageHook, nullptr, GetCurrentThreadId()));
    s_captureFrames = 0;
    CZarvexDlg dlg(nullptr);
    self->m_dlg = &dlg;
    SetEvent(self->m_ready.get());
    dlg.DoModal();
    if (self->m_afterClose)
        self->m_afterClose(dlg);
    return 0;
}

} // namespace testing_support
