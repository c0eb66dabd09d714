// Resource identifiers of the afx tests.
#pragma once

#define IDD_AFX_TEST_DIALOG 100
