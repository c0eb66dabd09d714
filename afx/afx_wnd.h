// CWnd and CDialog: just enough window framework for the program's modal dialogs.
//
// A dialog stores its object pointer in the window's user data at WM_INITDIALOG and sends every
// later message to OnMessage, where a derived dialog keeps its routing table as one switch.
// Threading: every handler runs on the thread that called DoModal. An exception a handler lets out
// stops at the dialog procedure: it is reported (the out-of-memory report for exhausted memory,
// kUnexpectedErrorText for anything else), the message counts as unhandled and the dialog runs on.
#pragma once

#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    explicit CWnd(HWND hwnd) : m_hWnd(hwnd) {}
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) {
        return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
    }

    // Pseudo windows for SetWindowPos's z-order argument.
    static const CWnd wndTop;
    static const CWnd wndBottom;
    static const CWnd wndTopMost;
    static const CWnd wndNoTopMost;

    HWND m_hWnd = nullptr;
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr)
        : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

    // Runs the dialog modally; the value given to EndDialog, or -1 if it could not be created.
    INT_PTR DoModal();
    void EndDialog(int result) { ::EndDialog(m_hWnd, result); }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // A derived dialog's message routing. Return TRUE with *result set for a handled message;
    // FALSE gives the message the framework's default processing (OK/Cancel, then the platform's).
    virtual BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
    // One message through the routing: OnInitDialog, OnMessage, then OK and Cancel.
    INT_PTR Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};
