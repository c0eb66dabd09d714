// CFileDialog: the system's Open and Save As dialogs, with the construction arguments and calls
// the program uses (default extension, initial name, OFN flags, a filter in the framework's
// "text|pattern|...||" form, owner; DoModal, GetPathName).
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <string>

#include "afx_string.h"

class CWnd;

class CFileDialog {
public:
    // bOpenFileDialog TRUE makes an Open dialog, FALSE a Save As dialog. defExt is appended to a
    // typed name without an extension; fileName is the name shown at first; filter holds pairs of
    // display text and pattern, each followed by '|', the whole ended by a second '|'.
    explicit CFileDialog(BOOL bOpenFileDialog, const char* defExt = nullptr, const char* fileName = nullptr,
                         DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                         CWnd* pParentWnd = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // Shows the dialog modally (its owner is disabled meanwhile): IDOK when the user chose a name,
    // IDCANCEL when the user cancelled or the dialog could not be shown (CommDlgExtendedError
    // tells which).
    INT_PTR DoModal();
    // The full path of the chosen file.
    CString GetPathName() const { return CString(m_szFileName); }

    // The filter in the system's form: every '|' becomes a NUL, and the text ends in two NULs.
    // Multibyte text is walked character by character in codePage, so a '|' that is the second
    // byte of a double-byte character (Shift-JIS has many) stays part of that character.
    static std::string MakeSystemFilter(const char* filter, UINT codePage = CP_ACP);

    OPENFILENAMEA m_ofn;

private:
    BOOL m_bOpenFileDialog;
    CWnd* m_pParentWnd;
    std::string m_strDefExt;
    std::string m_strFilter;
    char m_szFileName[MAX_PATH];
};
