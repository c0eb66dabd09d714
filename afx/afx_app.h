// CWinApp, the application profile, message boxes and the program entry.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "afx_string.h"

class CWnd;

class CWinApp {
public:
    // The one application object; registers itself as AfxGetApp().
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }

    // The application profile: a private profile file named after the program ("Zarvex.INI"),
    // kept where the system keeps such files. The program only reads it.
    UINT GetProfileInt(const char* section, const char* entry, int defaultValue) const;
    BOOL WriteProfileInt(const char* section, const char* entry, int value) const;

    void Enable3dControls() {} // every dialog already has the 3-D look

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;
    CString m_strAppName;
    CString m_strExeName;      // module file name without folder and extension
    CString m_strHelpFilePath; // module path with the extension "HLP"
    CString m_strProfileName;  // m_strExeName + ".INI"

    // Fills the module-derived names; run by AfxWinMain, and by tests that have no WinMain.
    void InitModuleNames(HINSTANCE instance);
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxEnableControlContainer(); // there are no OLE controls in our dialogs

// The program's WinMain: common controls, module names, InitInstance. Returns the exit code.
int AfxWinMain(HINSTANCE instance, int showCmd);

// Message boxes. The text of a string resource is shown as it stands in the resource (wide text,
// so Japanese captions survive whatever the ANSI code page is).
int AfxMessageBox(const char* text, UINT type = MB_OK);
int AfxMessageBox(UINT stringId, UINT type = MB_OK);
std::wstring AfxLoadStringW(UINT stringId);

// Tests replace the message box with a function that records the text and answers for the user.
using AfxMessageBoxSink = std::function<int(const std::wstring& text, UINT type)>;
void AfxSetMessageBoxSink(AfxMessageBoxSink sink);
