#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "afx_filedialog.h"
#include "afx_wnd.h"
#include "modal_dialog_helper.h"
#include "test_paths.h"

using testing_support::ModalDialogHelper;

namespace {

// The entries of a system filter list: NUL-separated texts up to the empty one that ends it.
std::vector<std::string> FilterEntries(const std::string& list) {
    std::vector<std::string> entries;
    for (size_t at = 0; at < list.size() && list[at] != '\0';) {
        const size_t end = list.find('\0', at);
        entries.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return entries;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end()); // the temporary folder's name is ASCII
}

// A hidden top-level window to own the dialog (a visible one would cost Wine two seconds to
// destroy without a window manager).
class OwnerWindow : public CWnd {
public:
    OwnerWindow() {
        m_hWnd = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    }
    ~OwnerWindow() override {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
    }
};

constexpr const char* kAviFilter = "AVI File (*.avi)|*.avi||";

class FileDialogTest : public testing::Test {
protected:
    void SetUp() override {
        folder_ = Narrow(testing_support::MakeTempFolder(L"filedialog"));
        ASSERT_FALSE(folder_.empty());
        ASSERT_NE(nullptr, owner_.m_hWnd) << "no display: the file dialog needs a desktop";
    }
    void TearDown() override {
        DeleteFileA((folder_ + "clip.avi").c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    std::string folder_;
    OwnerWindow owner_;
};

} // namespace

TEST(FileDialogFilterTest, BarsBecomeNulsAndTheListEndsWithTwo) {
    struct Case {
        const char* name;
        const char* filter;
        UINT codePage;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {"the save dialog's filter", kAviFilter, 1252, {"AVI File (*.avi)", "*.avi"}},
        {"two pairs",
         "AVI File (*.avi)|*.avi|All Files (*.*)|*.*||",
         1252,
         {"AVI File (*.avi)", "*.avi", "All Files (*.*)", "*.*"}},
        {"without the closing bars", "AVI File (*.avi)|*.avi", 1252, {"AVI File (*.avi)", "*.avi"}},
        {"empty", "", 1252, {}},
        // "ポ" is 0x83 0x7C in Shift-JIS: its second byte is a '|' and must stay part of it.
        {"a double-byte character ending in '|'",
         "\x83\x7C (*.avi)|*.avi||",
         932,
         {"\x83\x7C (*.avi)", "*.avi"}},
        {"the same bytes read as single-byte text",
         "\x83\x7C (*.avi)|*.avi||",
         1252,
         {"\x83", " (*.avi)", "*.avi"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string list = CFileDialog::MakeSystemFilter(c.filter, c.codePage);
        EXPECT_EQ(c.entries, FilterEntries(list));
        ASSERT_GE(list.size(), 2u);
        EXPECT_EQ(std::string(2, '\0'), list.substr(list.size() - 2)) << "the list must end with two NULs";
    }
}

TEST_F(FileDialogTest, TypedNameIsTakenWithTheDefaultExtension) {
    CFileDialog dialog(FALSE, "avi", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kAviFilter, &owner_);
    bool ownerDisabled = false;
    HWND dialogOwner = nullptr;
    std::string fileType;
    ModalDialogHelper helper({[&](HWND d) {
        ownerDisabled = !IsWindowEnabled(owner_.m_hWnd);
        dialogOwner = GetWindow(d, GW_OWNER);
        fileType = ModalDialogHelper::TextOf(ModalDialogHelper::FindDescendant(d, "ComboBox", 0x470));
        ModalDialogHelper::Type(ModalDialogHelper::FileNameEdit(d), folder_ + "clip");
        ModalDialogHelper::Press(d, IDOK);
    }});
    EXPECT_EQ(IDOK, dialog.DoModal());
    helper.Join();
    ASSERT_EQ(1, helper.Answered()) << "the save dialog did not open";
    EXPECT_TRUE(helper.Unexpected().empty());
    EXPECT_EQ("Save As", helper.Captions()[0]);
    EXPECT_EQ(owner_.m_hWnd, dialogOwner);
    EXPECT_TRUE(ownerDisabled) << "the dialog must be modal to its owner";
    EXPECT_EQ("AVI File (*.avi)", fileType);
    EXPECT_EQ(folder_ + "clip.avi", std::string(dialog.GetPathName()));
    EXPECT_TRUE(IsWindowEnabled(owner_.m_hWnd));
}

TEST_F(FileDialogTest, ExistingFileIsReplacedOnlyAfterTheUserAgrees) {
    struct Case {
        const char* name;
        DWORD flags;
        std::vector<int> answers; // buttons pressed after typing the name: the prompt's, then the dialog's
        INT_PTR result;
        int dialogs;
    };
    const Case cases[] = {
        {"the user agrees", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, {IDYES}, IDOK, 2},
        {"the user declines, then cancels",
         OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
         {IDNO, IDCANCEL},
         IDCANCEL,
         3},
        {"no prompt asked for", OFN_HIDEREADONLY, {}, IDOK, 1},
    };
    const std::string existing = folder_ + "clip.avi";
    ASSERT_TRUE(testing_support::WriteFileBytes(std::wstring(existing.begin(), existing.end()), "old"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFileDialog dialog(FALSE, "avi", nullptr, c.flags, kAviFilter, &owner_);
        std::vector<ModalDialogHelper::Action> actions = {[&](HWND d) {
            ModalDialogHelper::Type(ModalDialogHelper::FileNameEdit(d), existing);
            ModalDialogHelper::Press(d, IDOK);
        }};
        for (int button : c.answers)
            actions.push_back([button](HWND d) { ModalDialogHelper::Press(d, button); });
        ModalDialogHelper helper(std::move(actions));
        EXPECT_EQ(c.result, dialog.DoModal());
        helper.Join();
        EXPECT_EQ(c.dialogs, helper.Answered());
        EXPECT_TRUE(helper.Unexpected().empty());
        if (c.result == IDOK) {
            EXPECT_EQ(existing, std::string(dialog.GetPathName()));
        }
    }
}

TEST_F(FileDialogTest, CancelGivesIdCancel) {
    for (BOOL open : {FALSE, TRUE}) {
        SCOPED_TRACE(open ? "open dialog" : "save dialog");
        CFileDialog dialog(open, "avi", nullptr, OFN_HIDEREADONLY, kAviFilter, &owner_);
        ModalDialogHelper helper({[](HWND d) { ModalDialogHelper::Press(d, IDCANCEL); }});
        EXPECT_EQ(IDCANCEL, dialog.DoModal());
        helper.Join();
        ASSERT_EQ(1, helper.Answered());
        EXPECT_EQ(open ? "Open" : "Save As", helper.Captions()[0]);
    }
}
