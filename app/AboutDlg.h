// The about box (template 100). It has no behaviour of its own.
#pragma once

#include "afx_wnd.h"
#include "resource.h"

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(CWnd* parent = nullptr) : CDialog(IDD_ABOUTBOX, parent) {}
};
