// The main dialog's sound capture, in-process on the bench's real sound devices: the list it fills,
// the capture it starts, what a device choice and a time slider's release replace, a set-up that
// fails, and closing while the capture's worker runs.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SoundCapture.h"
#include "UniqueAny.h"
#include "dialog_fixture.h"
#include "resource.h"
#include "sound_capture_access.h"

using testing_support::DialogThread;
using testing_support::MessageBoxRecorder;
using testing_support::SoundCaptureTestAccess;
using testing_support::ZarvexDlgTestAccess;

namespace {

// The ring of pre + post seconds, in whole blocks of 22048 bytes.
DWORD RingBytes(int seconds) {
    return seconds * 176400u / 22048u * 22048u;
}

std::vector<std::string> ComboTexts(HWND combo) {
    std::vector<std::string> texts;
    const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

bool HasEnded(const win::UniqueHandle& thread) {
    return thread && WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

class DialogSoundTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dlg.window()) << "the dialog did not appear";
        ASSERT_TRUE(Capture()) << "no sound capture: the bench's PulseAudio should offer capture devices";
        ASSERT_TRUE(Capture()->IsRunning());
    }
    CSoundCapture* Capture() { return ZarvexDlgTestAccess::SoundCapture(m_dlg.dialog()); }
    win::UniqueHandle Worker() { return SoundCaptureTestAccess::DuplicateWorker(*Capture()); }
    void Choose(int index) {
        HWND combo = m_dlg.item(IDC_SOUND_DEVICE);
        SendMessageW(combo, CB_SETCURSEL, index, 0);
        SendMessageW(m_dlg.window(), WM_COMMAND, MAKEWPARAM(IDC_SOUND_DEVICE, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
    }

    MessageBoxRecorder m_boxes;
    DialogThread m_dlg; // first start: no settings file, so 5 s before and 5 s after the press
};

} // namespace

TEST_F(DialogSoundTest, ListsTheSoundDevicesAndStartsCaptureOnTheFirst) {
    CSoundDeviceArray devices;
    ASSERT_EQ(S_OK, EnumSoundCaptureDevices(devices));
    std::vector<std::string> expected;
    for (int i = 0; i < devices.GetSize(); ++i)
        expected.push_back(devices[i].szDescription);
    ASSERT_FALSE(expected.empty());

    HWND combo = m_dlg.item(IDC_SOUND_DEVICE);
    EXPECT_TRUE(IsWindowEnabled(combo));
    EXPECT_EQ(expected, ComboTexts(combo));
    EXPECT_EQ(0, SendMessageW(combo, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(devices.GetSize(), ZarvexDlgTestAccess::SoundDevices(m_dlg.dialog()).GetSize());

    EXPECT_EQ(RingBytes(10), Capture()->GetRingSize());
    EXPECT_EQ(1763840u, Capture()->GetRingSize());
    EXPECT_EQ(5, Capture()->GetPre());
    EXPECT_EQ(5, Capture()->GetPost());
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(DialogSoundTest, ChoosingASoundDeviceReplacesTheCapture) {
    ASSERT_GE(SendMessageW(m_dlg.item(IDC_SOUND_DEVICE), CB_GETCOUNT, 0, 0), 2)
        << "the bench lists two devices";
    for (int index : {1, 0}) {
        SCOPED_TRACE(index);
        const win::UniqueHandle before = Worker();
        Choose(index);
        EXPECT_TRUE(HasEnded(before)) << "the previous capture's worker still runs";
        ASSERT_TRUE(Capture());
        EXPECT_TRUE(Capture()->IsRunning());
        EXPECT_EQ(1763840u, Capture()->GetRingSize());
    }
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(DialogSoundTest, OnlyTheReleaseOfATimeSliderRebuildsTheSoundRing) {
    struct Case {
        int slider, text, value;
        int pre, post;
    };
    const Case cases[] = {
        {IDC_PRE_TIME, IDC_PRE_TIME_TEXT, 10, 10, 5},
        {IDC_END_TIME, IDC_END_TIME_TEXT, 2, 10, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slider);
        const HWND slider = m_dlg.item(c.slider);
        const win::UniqueHandle before = Worker();
        const DWORD ringBefore = Capture()->GetRingSize();

        // Dragging: the number follows at once, the capture stays as it is.
        SendMessageW(slider, TBM_SETPOS, TRUE, c.value);
        SendMessageW(m_dlg.window(), WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, c.value),
                     reinterpret_cast<LPARAM>(slider));
        EXPECT_EQ(c.value, static_cast<int>(GetDlgItemInt(m_dlg.window(), c.text, nullptr, TRUE)));
        EXPECT_FALSE(HasEnded(before)) << "a drag restarted the capture";
        EXPECT_EQ(ringBefore, Capture()->GetRingSize());

        // Letting go: a new capture for the new span.
        SendMessageW(m_dlg.window(), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                     reinterpret_cast<LPARAM>(slider));
        EXPECT_TRUE(HasEnded(before)) << "the previous capture's worker still runs";
        ASSERT_TRUE(Capture());
        EXPECT_TRUE(Capture()->IsRunning());
        EXPECT_EQ(c.pre, Capture()->GetPre());
        EXPECT_EQ(c.post, Capture()->GetPost());
        EXPECT_EQ(RingBytes(c.pre + c.post), Capture()->GetRingSize());
    }
    EXPECT_EQ(2645760u, RingBytes(15));
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(DialogSoundTest, AFailedSetupShowsErrorAndKeepsTheCaptureUnstarted) {
    // A device that went away after the list was filled: its GUID no longer opens anything.
    ZarvexDlgTestAccess::SoundDevices(m_dlg.dialog())[0].guid = {
        0x5a52a0e1, 0x0dd0, 0x4c4f, {0x9e, 0x10, 0x2b, 0x7c, 0x41, 0x00, 0xde, 0xad}};
    const win::UniqueHandle before = Worker();
    Choose(0);
    EXPECT_EQ((std::vector<std::wstring>{L"Error1!", L"Error!"}), m_boxes.Texts());
    EXPECT_TRUE(HasEnded(before));
    ASSERT_TRUE(Capture()) << "the failed capture is kept";
    EXPECT_FALSE(Capture()->IsRunning());
    EXPECT_FALSE(Capture()->GetRing());
}

TEST(DialogSoundCloseTest, ClosingWhileTheSoundWorkerRunsEndsItFirst) {
    // Closed while the worker captures, and while it goes on for a delayed stop (as after a press):
    // the close neither waits out the delay nor leaves the worker running past the dialog.
    for (const bool delayedStop : {false, true}) {
        SCOPED_TRACE(delayedStop ? "during a delayed stop" : "while capturing");
        MessageBoxRecorder boxes;
        DialogThread dlg;
        ASSERT_TRUE(dlg.window());
        CSoundCapture* capture = ZarvexDlgTestAccess::SoundCapture(dlg.dialog());
        ASSERT_TRUE(capture);
        ASSERT_TRUE(capture->IsRunning());
        const win::UniqueHandle worker = SoundCaptureTestAccess::DuplicateWorker(*capture);
        if (delayedStop)
            capture->RequestStop(CSoundCapture::StopAfterDelay); // takes only the capture's lock

        bool deleted = false;
        const DWORD start = GetTickCount();
        ASSERT_TRUE(dlg.Close([&](CZarvexDlg& closed) {
            deleted = ZarvexDlgTestAccess::SoundCapture(closed) == nullptr;
        })) << "the dialog did not end";
        EXPECT_LT(GetTickCount() - start, 4000u) << "the close waited for the worker's delay";
        EXPECT_TRUE(deleted) << "the sound capture outlived the window";
        EXPECT_TRUE(HasEnded(worker)) << "the worker runs on after the dialog ended";
        EXPECT_TRUE(boxes.Texts().empty());
    }
}
