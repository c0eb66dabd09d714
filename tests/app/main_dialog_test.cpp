// The main dialog in-process: what only the owning process can see (menus, icons) and the
// control-group switch that later work drives.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "afx_app.h"
#include "dialog_fixture.h"
#include "resource.h"

namespace {

// The settings file of an in-process dialog sits beside the test executable.
class InProcessApp : public CWinApp {
public:
    InProcessApp() { InitModuleNames(GetModuleHandleW(nullptr)); }
};
InProcessApp g_app;

class MainDialogTest : public testing::Test {
protected:
    void SetUp() override {
        DeleteFileA(CZarvexDlg::SettingsPath());
        ASSERT_TRUE(m_dlg.window()) << "the dialog did not appear";
    }
    void TearDown() override { DeleteFileA(CZarvexDlg::SettingsPath()); }

    testing_support::DialogThread m_dlg;
};

} // namespace

TEST_F(MainDialogTest, SystemMenuEndsWithSeparatorAndAboutEntry) {
    HMENU menu = GetSystemMenu(m_dlg.window(), FALSE);
    ASSERT_TRUE(menu);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    MENUITEMINFOW sep = {sizeof sep, MIIM_FTYPE};
    ASSERT_TRUE(GetMenuItemInfoW(menu, count - 2, TRUE, &sep));
    EXPECT_TRUE(sep.fType & MFT_SEPARATOR);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), GetMenuItemID(menu, count - 1));
    wchar_t text[128] = {};
    GetMenuStringW(menu, count - 1, text, 128, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(L"Zarvex のﾊﾞｰｼﾞｮﾝ情報(&A)..."), text);
}

TEST_F(MainDialogTest, DragIconAndWindowIconsAreTheProgramIcon) {
    const auto big = reinterpret_cast<HICON>(SendMessageW(m_dlg.window(), WM_GETICON, ICON_BIG, 0));
    const auto small = reinterpret_cast<HICON>(SendMessageW(m_dlg.window(), WM_GETICON, ICON_SMALL, 0));
    const auto drag = reinterpret_cast<HICON>(SendMessageW(m_dlg.window(), WM_QUERYDRAGICON, 0, 0));
    ASSERT_TRUE(big);
    EXPECT_EQ(big, small);
    EXPECT_EQ(big, drag);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(drag, &info));
    BITMAP bm = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), bm.bmWidth);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(MainDialogTest, EnableControlsSwitchesTheCaptureSideGroupOnly) {
    const int group[] = {IDOK, IDCANCEL, 1006, 1011, 1007, 1002, 1005, 3};
    const int untouched[] = {1000, 4, 1015, 1021, 1023, 1024, 1029, 1031, 1025, 1030, 1028};
    // A control disabled for another reason (an empty list) comes back with the group.
    EnableWindow(m_dlg.item(1006), FALSE);

    for (BOOL enable : {FALSE, TRUE}) {
        SCOPED_TRACE(enable ? "enable" : "disable");
        m_dlg.dialog().EnableControls(enable);
        for (int id : group) {
            SCOPED_TRACE(id);
            EXPECT_EQ(enable, IsWindowEnabled(m_dlg.item(id)));
        }
        for (int id : untouched) {
            SCOPED_TRACE(id);
            EXPECT_TRUE(IsWindowEnabled(m_dlg.item(id)));
        }
        EXPECT_FALSE(IsWindowEnabled(m_dlg.item(1012))) << "the detail button is disabled in every case";
    }
}
