// The save button's flow on real system dialogs: the file dialog and the compressor chooser are
// answered by a helper thread as a user would, the files are read back through AVIFile, and the
// message boxes are recorded. What WriteAvi itself does with odd input, full disks and files in
// use is avi_writer_test.cpp's; here it is what the flow hands it and what the user is told.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "avi_expect.h"
#include "avi_test_clip.h"
#include "ClipSaver.h"
#include "ComScope.h"
#include "afx_app.h"
#include "afx_wnd.h"
#include "modal_dialog_helper.h"

using avi_test::ReadBytes;
using avi_test::WriteBytes;
using testing_support::ModalDialogHelper;

namespace {

constexpr UINT kRunTask = WM_APP + 7;

// The dialog the flow is called from: a hidden top-level window of this thread that owns the
// system dialogs and runs a task posted to it from the helper thread, the way a clip maker's
// message reaches the real dialog while a modal dialog runs its messages.
class OwnerWindow : public CWnd {
public:
    OwnerWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &OwnerWindow::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ClipSaverTestOwner";
        RegisterClassW(&wc); // already registered by an earlier test: the class is the same
        m_hWnd = CreateWindowExW(0, wc.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                 nullptr, wc.hInstance, nullptr);
    }
    ~OwnerWindow() override {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
    }
    // Runs task on this window's thread when its message comes; the caller keeps task alive.
    void Post(std::function<void()>* task) {
        PostMessageW(m_hWnd, kRunTask, 0, reinterpret_cast<LPARAM>(task));
    }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == kRunTask) {
            (*reinterpret_cast<std::function<void()>*>(lParam))();
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
};

ModalDialogHelper::Action TypeName(const std::string& path) {
    return ModalDialogHelper::SaveAs(path);
}
ModalDialogHelper::Action PressButton(int id) {
    return ModalDialogHelper::PressButton(id);
}
ModalDialogHelper::Action InChooser(ModalDialogHelper::Action act) {
    return ModalDialogHelper::InDialogTitled(ModalDialogHelper::kChooserTitle, std::move(act));
}

std::wstring Wide(const char* text) {
    return text ? std::wstring(text, text + std::strlen(text)) : std::wstring(); // ASCII texts
}

class ClipSaverTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_com.ok());
        ASSERT_TRUE(m_folder.ok());
        ASSERT_NE(nullptr, m_owner.m_hWnd) << "no display: the system dialogs need a desktop";
        AfxSetMessageBoxSink([this](const std::wstring& text, UINT) {
            m_told.push_back(text);
            return IDOK;
        });
        // Clip 0 recorded at 30 fps with its sound, clip 1 without a rate of its own with its
        // sound, clip 2 without a sound block (the sound list is one shorter).
        const int rates[] = {30, 0, 30};
        for (int i = 0; i < 3; ++i) {
            auto clip = avi_test::MakeClip(4 + i, 64, 48);
            clip->SetFrameRate(rates[i]);
            m_clips.Add(clip.release());
        }
        for (int i = 0; i < 2; ++i) {
            m_sound[i] = avi_test::MakeSound(4000 + 400 * static_cast<size_t>(i));
            auto block = std::make_unique<SoundBlock>();
            block->SetSize(static_cast<int>(m_sound[i].size()));
            std::copy(m_sound[i].begin(), m_sound[i].end(), block->GetData());
            m_sounds.Add(block.release());
        }
    }
    void TearDown() override { AfxSetMessageBoxSink(nullptr); }

    std::string Path(const char* name) const { return m_folder.Path(name); }

    // The flow for clip index with the helper answering its dialogs.
    AviResult Save(int index, std::vector<ModalDialogHelper::Action> answers, bool captureFormat = true,
                   int currentRate = 15) {
        const WAVEFORMATEX pcm = avi_test::PcmFormat();
        ModalDialogHelper helper(std::move(answers));
        const AviResult result =
            SaveClipAs(&m_owner, m_clips, m_sounds, index, captureFormat ? &pcm : nullptr, currentRate);
        helper.Join();
        m_captions = helper.Captions();
        EXPECT_TRUE(helper.Unexpected().empty()) << "a dialog nobody expected: " << helper.Unexpected()[0];
        EXPECT_TRUE(IsWindowEnabled(m_owner.m_hWnd)) << "the dialog was left disabled";
        return result;
    }

    win::ComScope m_com;
    avi_test::AviFolder m_folder;
    OwnerWindow m_owner;
    CClipArray m_clips;
    CSoundBlockArray m_sounds;
    std::vector<BYTE> m_sound[2];
    std::vector<std::wstring> m_told;
    std::vector<std::string> m_captions;
};

// The file holds the clip at the rate it was recorded at (the current rate only for a clip that
// does not know its own), with its sound, or as video alone for a clip without a sound block. The
// name gets the extension "avi", an existing file is replaced once the user agrees, and the user
// is told nothing after a save that went as asked.
TEST_F(ClipSaverTest, SavesTheClipAtItsOwnRateWithItsSoundOrAsVideoAlone) {
    ASSERT_TRUE(WriteBytes(Path("old.avi"), "an older file"));
    struct Case {
        const char* name;
        int index;
        const char* typed;
        const char* file;
        bool existing;      // the user is asked whether to replace it, and agrees
        bool captureFormat; // a sound capture gives its format
        int currentRate;    // the capture format's rate now
        int rate;
        int sound; // which sound the file holds, -1 for none
    } cases[] = {
        {"recorded at 30 fps, saved after a change to 15", 0, "clip", "clip.avi", false, true, 15, 30, 0},
        {"a clip without a rate of its own: the current one", 1, "one.avi", "one.avi", false, true, 15, 15,
         1},
        {"no rate known at all: the rate it plays at", 1, "zero.avi", "zero.avi", false, true, 0, 30, 1},
        {"a clip without a sound block: video alone", 2, "two.avi", "two.avi", false, true, 15, 30, -1},
        {"no sound capture: the clip's sound all the same", 0, "none.avi", "none.avi", false, false, 15, 30,
         0},
        {"over an existing file", 1, "old.avi", "old.avi", true, true, 15, 15, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_told.clear();
        HWND chooserOwner = nullptr;
        std::vector<ModalDialogHelper::Action> answers = {TypeName(Path(c.typed))};
        if (c.existing)
            answers.push_back(ModalDialogHelper::AnswerPrompt(IDYES));
        answers.push_back(InChooser([&](HWND d) {
            chooserOwner = GetWindow(d, GW_OWNER);
            ModalDialogHelper::Press(d, IDOK);
        }));
        ASSERT_EQ(AviResult::Written, Save(c.index, answers, c.captureFormat, c.currentRate));
        EXPECT_EQ(answers.size(), m_captions.size());
        EXPECT_EQ(m_owner.m_hWnd, chooserOwner) << "the chooser must be modal to the dialog";
        EXPECT_TRUE(m_told.empty()) << "told after a save that went as asked";

        const avi_test::AviFile file = avi_test::ReadAvi(Path(c.file));
        ASSERT_EQ(S_OK, file.hrOpen);
        avi_test::ExpectVideo(file, *m_clips[c.index], c.rate);
        if (c.sound >= 0) {
            EXPECT_EQ(2u, file.streamCount);
            avi_test::ExpectSound(file, m_sound[c.sound]);
        } else {
            EXPECT_EQ(1u, file.streamCount);
            EXPECT_EQ(nullptr, avi_test::FindHeader(file, streamtypeAUDIO));
        }
    }
}

// No clip: nothing opens. A cancelled file dialog or chooser leaves the disk as it was and says
// nothing; the chooser never opens after a cancelled file dialog.
TEST_F(ClipSaverTest, NoClipOrACancelLeavesTheDiskAsItWasWithoutAWord) {
    ASSERT_TRUE(WriteBytes(Path("old.avi"), "an older file"));
    const std::vector<std::string> before = m_folder.Listing();
    struct Case {
        const char* name;
        int index;
        std::vector<ModalDialogHelper::Action> answers;
        AviResult result;
    } cases[] = {
        {"nothing selected in an empty list", -1, {}, AviResult::BadClip},
        {"past the end of the list", 3, {}, AviResult::BadClip},
        {"the file dialog cancelled", 0, {PressButton(IDCANCEL)}, AviResult::Cancelled},
        {"the chooser cancelled",
         0,
         {TypeName(Path("new.avi")), InChooser([](HWND d) { ModalDialogHelper::Press(d, IDCANCEL); })},
         AviResult::Cancelled},
        {"the chooser cancelled over an existing file",
         2,
         {TypeName(Path("old.avi")), ModalDialogHelper::AnswerPrompt(IDYES),
          InChooser([](HWND d) { ModalDialogHelper::Press(d, IDCANCEL); })},
         AviResult::Cancelled},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_told.clear();
        const size_t dialogs = c.answers.size();
        EXPECT_EQ(c.result, Save(c.index, std::move(c.answers)));
        EXPECT_EQ(dialogs, m_captions.size());
        EXPECT_TRUE(m_told.empty()) << "told: " << std::string(m_told[0].begin(), m_told[0].end());
        EXPECT_EQ(before, m_folder.Listing());
        EXPECT_EQ("an older file", ReadBytes(Path("old.avi")));
    }
}

// A compressor that cannot take the frames gives an uncompressed file, and the user hears of it.
// A save that fails is reported and leaves the disk as it was: a read-only file in the way, or the
// clip removed from the list (to make room for a new one) while a dialog was open.
TEST_F(ClipSaverTest, TheUserIsToldOfAnUncompressedFallbackAndOfAFailedSave) {
    ASSERT_TRUE(WriteBytes(Path("locked.avi"), "a read-only file"));
    ASSERT_TRUE(SetFileAttributesA(Path("locked.avi").c_str(), FILE_ATTRIBUTE_READONLY));
    std::function<void()> removeClip0 = [&] {
        m_clips.RemoveAt(0);
        m_sounds.RemoveAt(0);
    };
    auto removingClip0 = [&](ModalDialogHelper::Action then) -> ModalDialogHelper::Action {
        return [&, then](HWND d) {
            m_owner.Post(&removeClip0);
            then(d);
        };
    };
    struct Case {
        const char* name;
        std::vector<ModalDialogHelper::Action> answers;
        AviResult result;
        size_t dialogs;   // that opened
        const char* file; // what the disk holds afterwards besides locked.avi, or null
    } cases[] = {
        {"a compressor that cannot take the frames",
         {TypeName(Path("clip.avi")), InChooser([](HWND d) {
              HWND combo = ModalDialogHelper::FindDescendant(d, "ComboBox");
              EXPECT_TRUE(ModalDialogHelper::SelectComboItem(d, combo, "Cinepak"));
              ModalDialogHelper::Press(d, IDOK);
          })},
         AviResult::WrittenUncompressed,
         2,
         "clip.avi"},
        {"a read-only file in the way",
         {TypeName(Path("locked.avi")), ModalDialogHelper::AnswerPrompt(IDYES), InChooser(PressButton(IDOK))},
         AviResult::CannotReplace,
         3,
         nullptr},
        {"the clip removed while the file dialog was open",
         {removingClip0(TypeName(Path("gone.avi"))), InChooser(PressButton(IDOK))},
         AviResult::BadClip,
         1,
         nullptr},
        {"the clip removed while the chooser was open",
         {TypeName(Path("gone.avi")), InChooser(removingClip0(PressButton(IDOK)))},
         AviResult::BadClip,
         2,
         nullptr},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_told.clear();
        const CFrameArray* clip = m_clips[0];
        EXPECT_EQ(c.result, Save(0, std::move(c.answers)));
        EXPECT_EQ(c.dialogs, m_captions.size()) << "the chooser opened for a clip that was gone";
        ASSERT_EQ(1u, m_told.size()) << "the user must be told, once";
        EXPECT_EQ(Wide(ClipSaveMessage(c.result)), m_told[0]);
        EXPECT_EQ("a read-only file", ReadBytes(Path("locked.avi")));
        std::vector<std::string> expected = {"locked.avi"};
        if (c.file) {
            expected.insert(expected.begin(), c.file);
            const avi_test::AviFile file = avi_test::ReadAvi(Path(c.file));
            ASSERT_EQ(S_OK, file.hrOpen);
            avi_test::ExpectVideo(file, *clip, 30);
        }
        EXPECT_EQ(expected, m_folder.Listing());
        if (c.file)
            DeleteFileA(Path(c.file).c_str());
    }
    EXPECT_EQ(1, m_clips.GetSize()) << "both removals ran";
}

} // namespace
