// Resource and control ids of the probe tests' dialog (probe_test.rc).
#pragma once

#define IDD_PROBE_TEST 100

#define IDC_TEST_PRESS 1001
#define IDC_TEST_DISABLED 1002
#define IDC_TEST_HIDDEN 1003
#define IDC_TEST_CHECK 1004
#define IDC_TEST_HSLIDER 1010
#define IDC_TEST_VSLIDER 1011
#define IDC_TEST_COMBO 1020
#define IDC_TEST_STATUS 1030
#define IDC_TEST_LIST 1040
#define IDC_TEST_SAVE 1050
#define IDC_TEST_COMPRESSOR 1051
