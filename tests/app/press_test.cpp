// The capture press in the main dialog, in-process: the way out of a press no frame follows, and
// the clip list's delete button.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FrameArray.h"
#include "SoundBlock.h"
#include "dialog_fixture.h"
#include "resource.h"

using testing_support::DialogThread;
using testing_support::MessageBoxRecorder;
using testing_support::ZarvexDlgTestAccess;

namespace {

std::wstring ItemText(const DialogThread& dlg, int id) {
    wchar_t text[64] = {};
    GetDlgItemTextW(dlg.window(), id, text, 64);
    return text;
}

// Polls until pred holds, for at most timeoutMs.
template <typename Pred> bool WaitUntil(Pred pred, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

void Press(const DialogThread& dlg) {
    SendMessageW(dlg.window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(dlg.item(IDOK)));
}

class PressTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dlg.window()) << "the dialog did not appear"; }

    MessageBoxRecorder m_boxes;
    DialogThread m_dlg;
};

// No camera delivers to this dialog, so a press is never followed by a frame: within a few
// seconds the press is given up, the controls and the exit button come back, and the sound
// capture, told to stop after the post time, runs again.
TEST_F(PressTest, APressNoFrameFollowsGivesTheControlsBackAndTheSoundRuns) {
    Press(m_dlg);
    EXPECT_FALSE(IsWindowEnabled(m_dlg.item(IDCANCEL))) << "the press disables the exit button";
    EXPECT_FALSE(IsWindowEnabled(m_dlg.item(IDOK)));
    EXPECT_TRUE(ZarvexDlgTestAccess::IsArmed(m_dlg.dialog()));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(m_dlg.item(IDCANCEL)) != FALSE; }, 15000))
        << "the controls stayed disabled";
    for (int id : {IDOK, IDCANCEL, IDC_PRE_TIME, IDC_END_TIME, IDC_DELETE}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(IsWindowEnabled(m_dlg.item(id)));
    }
    bool armed = true, running = false;
    ASSERT_TRUE(m_dlg.Run([&](CZarvexDlg& dlg) {
        armed = ZarvexDlgTestAccess::IsArmed(dlg);
        running =
            ZarvexDlgTestAccess::SoundCapture(dlg) && ZarvexDlgTestAccess::SoundCapture(dlg)->IsRunning();
    }));
    EXPECT_FALSE(armed);
    EXPECT_TRUE(running) << "the sound capture was not started again";
    EXPECT_TRUE(m_dlg.Close()) << "the program cannot be closed";
    EXPECT_TRUE(ZarvexDlgTestAccess::ClipMaker(m_dlg.dialog()).IsBusy() == FALSE);
}

// Clips 1..n each made of one 64 x 48 frame whose first byte is its number, with sound blocks of
// n bytes for the first `sounds` of them.
void AddClips(DialogThread& dlg, int n, int sounds) {
    ASSERT_TRUE(dlg.Run([&](CZarvexDlg& d) {
        for (int i = 1; i <= n; ++i) {
            auto* clip = new CFrameArray;
            auto* frame = new CFrameImage(64, 48, 24);
            frame->GetBits()[0] = static_cast<BYTE>(i);
            clip->Add(frame);
            ZarvexDlgTestAccess::Clips(d).Add(clip);
            if (i <= sounds) {
                auto* block = new SoundBlock;
                block->SetSize(i);
                ZarvexDlgTestAccess::Sounds(d).Add(block);
            }
        }
        ZarvexDlgTestAccess::RefillClipList(d);
    }));
}

// The numbers of the clips left, and the sizes of the sound blocks left.
void Remaining(DialogThread& dlg, std::vector<int>& clips, std::vector<int>& sounds) {
    clips.clear();
    sounds.clear();
    ASSERT_TRUE(dlg.Run([&](CZarvexDlg& d) {
        const CClipArray& c = ZarvexDlgTestAccess::Clips(d);
        for (int i = 0; i < c.GetSize(); ++i)
            clips.push_back(c.GetAt(i)->GetAt(0)->GetBits()[0]);
        const CSoundBlockArray& s = ZarvexDlgTestAccess::Sounds(d);
        for (int i = 0; i < s.GetSize(); ++i)
            sounds.push_back(s.GetAt(i)->GetSize());
    }));
}

TEST_F(PressTest, DeleteRemovesTheSelectedClipOrClipOneWithItsSound) {
    struct Case {
        const char* name;
        int clips, sounds, select; // select -1: nothing selected
        std::vector<int> clipsLeft, soundsLeft;
    };
    const Case cases[] = {
        {"nothing selected", 3, 3, -1, {2, 3}, {2, 3}},
        {"item 2 selected", 3, 3, 1, {1, 3}, {1, 3}},
        {"the last clip had no sound", 3, 2, 2, {1, 2}, {1, 2}},
        {"empty list", 0, 0, -1, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(m_dlg.Run([](CZarvexDlg& d) {
            ZarvexDlgTestAccess::Clips(d).DeleteAll();
            ZarvexDlgTestAccess::Sounds(d).DeleteAll();
            ZarvexDlgTestAccess::RefillClipList(d);
        }));
        AddClips(m_dlg, c.clips, c.sounds);
        const HWND list = m_dlg.item(IDC_CLIP_LIST);
        if (c.select >= 0) {
            LVITEMW item = {};
            item.stateMask = LVIS_SELECTED;
            item.state = LVIS_SELECTED;
            SendMessageW(list, LVM_SETITEMSTATE, c.select, reinterpret_cast<LPARAM>(&item));
        }
        SetDlgItemTextW(m_dlg.window(), IDC_FREE_MEMORY, L"stale");
        SendMessageW(m_dlg.window(), WM_COMMAND, MAKEWPARAM(IDC_DELETE, BN_CLICKED),
                     reinterpret_cast<LPARAM>(m_dlg.item(IDC_DELETE)));
        std::vector<int> clips, sounds;
        Remaining(m_dlg, clips, sounds);
        EXPECT_EQ(c.clipsLeft, clips);
        EXPECT_EQ(c.soundsLeft, sounds);
        // The list is rebuilt and renumbered: items "1".."n".
        const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        ASSERT_EQ(static_cast<int>(c.clipsLeft.size()), count);
        for (int i = 0; i < count; ++i) {
            wchar_t text[16] = {};
            LVITEMW item = {};
            item.pszText = text;
            item.cchTextMax = 16;
            SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            EXPECT_EQ(std::to_wstring(i + 1), text);
        }
        const std::wstring free = ItemText(m_dlg, IDC_FREE_MEMORY);
        EXPECT_NE(L"stale", free) << "the free figure was not refreshed";
        EXPECT_EQ(L" MB", free.substr(free.size() - 3));
    }
}

} // namespace
