// The main dialog in-process: what only the owning process can see (menus, icons, the dialog's own
// members), the control-group switch that later work drives, and how stored settings come back.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

std::wstring ItemText(const DialogThread& dlg, int id) {
    wchar_t text[64] = {};
    GetDlgItemTextW(dlg.window(), id, text, 64);
    return text;
}

LRESULT SliderPos(const DialogThread& dlg, int id) {
    return SendMessageW(dlg.item(id), TBM_GETPOS, 0, 0);
}

bool Holds(const std::optional<std::string>& text, const std::string& line) {
    return text && text->find(line + "\r\n") != std::string::npos;
}

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

namespace {

// The settings section as an earlier exit stores it (newest key first).
std::string StoredSettings(const char* preTime, const char* endTime, const char* volume,
                           const char* soundDelay) {
    return std::string("[Settings]\r\n") + "SoundDelay=" + soundDelay + "\r\nVolume=" + volume +
           "\r\nEndTime=" + endTime + "\r\nPreTime=" + preTime + "\r\nPY=100\r\nPX=100\r\nTopmost=0\r\n";
}

} // namespace

TEST(MainDialogSettingsTest, ValuesOutsideTheirControlsRangesAreClampedWhenLoaded) {
    // Each value is brought into the range of the control that shows it, so that the number shown,
    // the slider and the value used agree; a value inside its range is kept exactly.
    struct Case {
        const char* name;
        const char *preTime, *endTime, *volume, *soundDelay; // as stored
        int pre, end, vol, delay;                            // as loaded
    };
    const Case cases[] = {
        {"32-bit maximum", "2147483647", "2147483647", "2147483647", "2147483647", 30, 30, 100, 2000},
        {"32-bit minimum", "-2147483648", "-2147483648", "-2147483648", "-2147483648", 0, 0, 0, -2000},
        {"beyond 32 bits", "99999999999", "-99999999999", "18446744073709551616", "-4294967296", 30, 0, 100,
         -2000},
        {"one step outside", "31", "-1", "101", "-2001", 30, 0, 100, -2000},
        {"the range's ends", "0", "30", "0", "2000", 0, 30, 0, 2000},
        {"inside", "12", "7", "37", "-1999", 12, 7, 37, -1999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::MessageBoxRecorder boxes;
        DialogThread dlg(StoredSettings(c.preTime, c.endTime, c.volume, c.soundDelay));
        ASSERT_TRUE(dlg.window()) << "the dialog did not appear";
        EXPECT_EQ(std::to_wstring(c.pre), ItemText(dlg, IDC_PRE_TIME_TEXT));
        EXPECT_EQ(c.pre, SliderPos(dlg, IDC_PRE_TIME));
        EXPECT_EQ(std::to_wstring(c.end), ItemText(dlg, IDC_END_TIME_TEXT));
        EXPECT_EQ(c.end, SliderPos(dlg, IDC_END_TIME));
        EXPECT_EQ(std::to_wstring(c.vol), ItemText(dlg, IDC_VOLUME_TEXT));
        EXPECT_EQ(100 - c.vol, SliderPos(dlg, IDC_VOLUME));
        EXPECT_EQ(std::to_wstring(c.delay), ItemText(dlg, IDC_SOUND_DELAY));

        ASSERT_TRUE(dlg.Close());
        const std::optional<std::string> saved = DialogThread::ReadSettings();
        EXPECT_TRUE(Holds(saved, "PreTime=" + std::to_string(c.pre))) << saved.value_or("(no file)");
        EXPECT_TRUE(Holds(saved, "EndTime=" + std::to_string(c.end))) << saved.value_or("(no file)");
        EXPECT_TRUE(Holds(saved, "Volume=" + std::to_string(c.vol))) << saved.value_or("(no file)");
        EXPECT_TRUE(Holds(saved, "SoundDelay=" + std::to_string(c.delay))) << saved.value_or("(no file)");
        // No time at all before and after the press leaves no room for a sound ring: its set-up
        // fails with its own message and the dialog's.
        const std::vector<std::wstring> noRing = {L"Error2!", L"Error!"};
        EXPECT_EQ(c.pre + c.end == 0 ? noRing : std::vector<std::wstring>{}, boxes.Texts());
    }
    EXPECT_FALSE(DialogThread::ReadSettings()) << "a test leaves no settings file behind";
}

TEST(MainDialogSettingsTest, StoredPositionIsTheNormalPlacementAndIsSavedAsItCame) {
    // PX and PY are saved from the placement's normal rectangle; loading must put that rectangle
    // back at the same numbers, or the window creeps by the work area's offset at every start.
    struct Case {
        int x, y;
    };
    for (const Case& c : {Case{321, 123}, Case{-40, 700}}) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        const std::string x = std::to_string(c.x), y = std::to_string(c.y);
        DialogThread dlg("[Settings]\r\nPY=" + y + "\r\nPX=" + x + "\r\nTopmost=0\r\n");
        ASSERT_TRUE(dlg.window()) << "the dialog did not appear";
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        ASSERT_TRUE(GetWindowPlacement(dlg.window(), &placement));
        EXPECT_EQ(c.x, placement.rcNormalPosition.left);
        EXPECT_EQ(c.y, placement.rcNormalPosition.top);
        ASSERT_TRUE(dlg.Close());
        const std::optional<std::string> saved = DialogThread::ReadSettings();
        EXPECT_TRUE(Holds(saved, "PX=" + x)) << saved.value_or("(no file)");
        EXPECT_TRUE(Holds(saved, "PY=" + y)) << saved.value_or("(no file)");
    }
}
