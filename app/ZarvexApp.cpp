#include "ZarvexApp.h"

#include "ZarvexDlg.h"

BOOL CZarvexApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControls();
    {
        CZarvexDlg dlg(nullptr);
        m_pMainWnd = &dlg;
        (void)dlg.DoModal(); // how the dialog ended makes no difference: the program ends either way
        m_pMainWnd = nullptr;
    }
    return FALSE;
}
