// The application object: it runs the main dialog modally and ends the program when it closes.
#pragma once

#include "afx_app.h"

class CZarvexApp : public CWinApp {
public:
    CZarvexApp() : CWinApp(nullptr) {}
    BOOL InitInstance() override;
};
