#include "dialog_fixture.h"

#include <cstdio>
#include <cstdlib>

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
    m_thread = AfxBeginOwnedThread(&DialogThread::Run, this);
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

namespace {
constexpr UINT kCallMessage = WM_APP + 0x100;
const wchar_t kCallClass[] = L"ZarvexDialogTestCall";
} // namespace

LRESULT CALLBACK DialogThread::CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != kCallMessage)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    auto* self = reinterpret_cast<DialogThread*>(wParam);
    (*reinterpret_cast<const std::function<void(CZarvexDlg&)>*>(lParam))(*self->m_dlg);
    return 1;
}

bool DialogThread::Call(const std::function<void(CZarvexDlg&)>& f) {
    DWORD_PTR done = 0;
    return m_hwndCall && !m_closed &&
           SendMessageTimeoutW(m_hwndCall, kCallMessage, reinterpret_cast<WPARAM>(this),
                               reinterpret_cast<LPARAM>(&f), SMTO_NORMAL, 30000, &done) &&
           done == 1;
}

UINT __cdecl DialogThread::Run(LPVOID param) {
    auto* self = static_cast<DialogThread*>(param);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &DialogThread::CallProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kCallClass;
    RegisterClassW(&wc); // a second dialog in the same run finds the class registered
    self->m_hwndCall = CreateWindowExW(0, kCallClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
    CZarvexDlg dlg(nullptr);
    self->m_dlg = &dlg;
    SetEvent(self->m_ready.get());
    dlg.DoModal();
    if (self->m_afterClose)
        self->m_afterClose(dlg);
    DestroyWindow(self->m_hwndCall);
    return 0;
}

} // namespace testing_support
