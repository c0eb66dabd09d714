#include "afx_app.h"

#include <commctrl.h>

#include <mutex>

#include "Log.h"
#include "afx_exceptions.h"
#include "afx_wnd.h"

namespace {

CWinApp* g_app = nullptr;

std::mutex g_sinkLock;
AfxMessageBoxSink g_sink;

std::wstring Widen(const char* text) {
    if (!text)
        return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], n);
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

int ShowMessageBox(const std::wstring& text, UINT type) {
    AfxMessageBoxSink sink;
    {
        std::lock_guard<std::mutex> hold(g_sinkLock);
        sink = g_sink;
    }
    if (sink)
        return sink(text, type);
    CWinApp* app = AfxGetApp();
    HWND owner = (app && app->m_pMainWnd) ? app->m_pMainWnd->m_hWnd : nullptr;
    std::wstring title = app ? Widen(app->m_strAppName) : std::wstring();
    return MessageBoxW(owner, text.c_str(), title.c_str(), type);
}

} // namespace

CWinApp::CWinApp(const char* appName) : m_strAppName(appName) {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this)
        g_app = nullptr;
}

void CWinApp::InitModuleNames(HINSTANCE instance) {
    m_hInstance = instance;
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(instance, path, MAX_PATH);
    CString full(path, static_cast<int>(n < MAX_PATH ? n : 0));

    int nameStart = 0;
    for (int i = 0; i < full.GetLength(); ++i)
        if (full[i] == '\\' || full[i] == '/')
            nameStart = i + 1;
    CString name = full.Mid(nameStart);
    int dot = -1;
    for (int i = 0; i < name.GetLength(); ++i)
        if (name[i] == '.')
            dot = i;
    m_strExeName = dot >= 0 ? name.Left(dot) : name;
    if (m_strAppName.IsEmpty())
        m_strAppName = m_strExeName;

    // Like the framework's help path: the module path with its extension replaced by "HLP".
    const int extStart = nameStart + (dot >= 0 ? dot + 1 : name.GetLength());
    m_strHelpFilePath = full.Left(extStart) + (dot >= 0 ? "HLP" : ".HLP");
    m_strProfileName = m_strExeName + ".INI";
}

UINT CWinApp::GetProfileInt(const char* section, const char* entry, int defaultValue) const {
    return GetPrivateProfileIntA(section, entry, defaultValue, m_strProfileName);
}

BOOL CWinApp::WriteProfileInt(const char* section, const char* entry, int value) const {
    CString text;
    text.Format("%d", value);
    return WritePrivateProfileStringA(section, entry, text, m_strProfileName);
}

CWinApp* AfxGetApp() {
    return g_app;
}

HINSTANCE AfxGetInstanceHandle() {
    return (g_app && g_app->m_hInstance) ? g_app->m_hInstance : GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle() {
    return AfxGetInstanceHandle();
}

void AfxEnableControlContainer() {}

int AfxWinMain(HINSTANCE instance, int /*showCmd*/) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    // Without the classes the dialog cannot be created at all, and that failure is reported there.
    (void)InitCommonControlsEx(&icc);
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    app->InitModuleNames(instance);
    // The program runs inside InitInstance and answers FALSE: there is no message loop of our own.
    (void)app->InitInstance();
    return 0;
}

void AfxSetMessageBoxSink(AfxMessageBoxSink sink) {
    std::lock_guard<std::mutex> hold(g_sinkLock);
    g_sink = std::move(sink);
}

std::wstring AfxLoadStringW(UINT stringId) {
    const wchar_t* res = nullptr;
    // With a zero buffer length LoadStringW hands back a read-only pointer into the resource.
    const int len = LoadStringW(AfxGetResourceHandle(), stringId, reinterpret_cast<wchar_t*>(&res), 0);
    if (len <= 0 || !res)
        return std::wstring();
    return std::wstring(res, static_cast<size_t>(len));
}

int AfxMessageBox(const char* text, UINT type) {
    return ShowMessageBox(Widen(text), type);
}

int AfxMessageBox(UINT stringId, UINT type) {
    return ShowMessageBox(AfxLoadStringW(stringId), type);
}

void AfxThrowMemoryException() {
    throw CMemoryException();
}

void AfxThrowFileException(int cause, long osError) {
    throw CFileException(cause, osError);
}

namespace {

// Set while a failure report is open on this thread. The report's message box runs a message loop,
// and a handler that fails on every call (a paint handler, say) would otherwise stack report upon
// report without end.
thread_local bool t_reporting = false;

void ReportFailure(const char* text) noexcept {
    if (t_reporting) {
        win::LogFailure(__FILE__, __LINE__, text, "not shown, a report is already open; code", 0);
        return;
    }
    t_reporting = true;
    try {
        (void)AfxMessageBox(text, MB_ICONEXCLAMATION | MB_OK);
    } catch (...) {
        // Too little memory left even for the message box: the trace is all that can be given.
        win::LogFailure(__FILE__, __LINE__, text, "could not be shown; code", 0);
    }
    t_reporting = false;
}

} // namespace

void AfxReportMemoryException() noexcept {
    ReportFailure("Out of memory.");
}

void AfxReportUnexpectedException() noexcept {
    ReportFailure(kUnexpectedErrorText);
}
