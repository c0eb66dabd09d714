// The main dialog in-process: what only the owning process can see (menus, icons, the dialog's own
// members) and the control-group switch that later work drives.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FrameArray.h"
#include "UniqueAny.h"
#include "afx_app.h"
#include "dialog_fixture.h"
#include "resource.h"

using testing_support::DialogThread;
using testing_support::ZarvexDlgTestAccess;

namespace {

class MainDialogTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dlg.window()) << "the dialog did not appear"; }

    DialogThread m_dlg; // first start: no settings file
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
    const win::UniqueBitmap color(info.hbmColor), mask(info.hbmMask);
    BITMAP bm = {};
    GetObjectW(color ? color.get() : mask.get(), sizeof bm, &bm);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), bm.bmWidth);
}

TEST_F(MainDialogTest, EnableControlsSwitchesTheCaptureSideGroupOnly) {
    const int group[] = {IDOK,         IDCANCEL,     IDC_VIDEO_DEVICE, IDC_VIDEO_FORMAT, IDC_SOUND_DEVICE,
                         IDC_PRE_TIME, IDC_END_TIME, IDC_DELETE};
    const int untouched[] = {IDC_CLIP_LIST, IDC_SAVE,      IDC_TOPMOST,         IDC_PLAY,
                             IDC_STOP,      IDC_STEP_BACK, IDC_STEP_FORWARD,    IDC_PAUSE,
                             IDC_VOLUME,    IDC_POSITION,  IDC_SOUND_DELAY_SPIN};
    // A control disabled for another reason (an empty list) comes back with the group.
    EnableWindow(m_dlg.item(IDC_VIDEO_DEVICE), FALSE);

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
        EXPECT_FALSE(IsWindowEnabled(m_dlg.item(IDC_FORMAT_DETAIL)))
            << "the detail button is disabled in every case";
    }
}

TEST_F(MainDialogTest, ClosingWithThumbnailsLeavesTheImageListToTheDialog) {
    // The dialog owns the thumbnails' image list and destroys it itself; a list view that also
    // destroyed it as the window went would leave the dialog a freed handle to destroy again.
    CZarvexDlg& dlg = m_dlg.dialog();
    for (int i = 0; i < 2; ++i) {
        auto clip = std::make_unique<CFrameArray>();
        clip->Add(new CFrameImage(320, 240, 24));
        ZarvexDlgTestAccess::Clips(dlg).Add(clip.release());
    }
    ZarvexDlgTestAccess::RefillClipList(dlg);
    const HIMAGELIST thumbs = ZarvexDlgTestAccess::Thumbnails(dlg).GetSafeHandle();
    ASSERT_TRUE(thumbs);
    ASSERT_EQ(thumbs, reinterpret_cast<HIMAGELIST>(
                          SendMessageW(m_dlg.item(IDC_CLIP_LIST), LVM_GETIMAGELIST, LVSIL_NORMAL, 0)));
    ASSERT_EQ(2, ImageList_GetImageCount(thumbs));

    HIMAGELIST heldAfterClose = nullptr;
    int imagesAfterClose = -1;
    ASSERT_TRUE(m_dlg.Close([&](CZarvexDlg& closed) {
        heldAfterClose = ZarvexDlgTestAccess::Thumbnails(closed).GetSafeHandle();
        imagesAfterClose = ImageList_GetImageCount(heldAfterClose);
    }));
    EXPECT_EQ(thumbs, heldAfterClose);
    EXPECT_EQ(2, imagesAfterClose) << "the list view destroyed the dialog's image list with the window";
}
