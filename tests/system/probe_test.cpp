// zxprobe.exe (tools/probe) against a dialog in this process that logs every notification it
// gets, and against the real Zarvex.exe: each verb must reach the controls across the process
// boundary the way a user's mouse would, and refuse what a user could not do.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <vfw.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "ComScope.h"
#include "UniqueAny.h"
#include "Utf8.h"
#include "probe_process.h"
#include "probe_test_resources.h"
#include "resource.h"
#include "test_paths.h"
#include "zarvex_process.h"

using testing_support::ProbeRun;
using testing_support::RunProbe;

namespace {

constexpr wchar_t kDialogTitle[] = L"zxprobe test dialog";
const std::wstring kDialog = L"\"zxprobe test dialog\"";
constexpr DWORD kEventTimeoutMs = 10000;
// "ガンマ" and "完了": text that a narrow command line or output would not carry.
const wchar_t kGamma[] = L"\u30AC\u30F3\u30DE";
const char kGammaUtf8[] = "\xE3\x82\xAC\xE3\x83\xB3\xE3\x83\x9E";
const wchar_t kDone[] = L"\u5B8C\u4E86";
constexpr UINT kChangeLater = WM_APP + 1;
constexpr UINT_PTR kChangeTimer = 1;

// The test dialog, run modally on a thread of its own so that the test thread can wait for
// zxprobe while the dialog answers it. Every notification it gets becomes one line of its log.
class CProbedDialog {
public:
    CProbedDialog() : m_ready(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        m_thread.reset(CreateThread(nullptr, 0, &CProbedDialog::Thread, this, 0, nullptr));
        if (!m_thread || WaitForSingleObject(m_ready.get(), 10000) != WAIT_OBJECT_0 || !m_hwnd)
            ADD_FAILURE() << "the test dialog did not open";
    }
    ~CProbedDialog() {
        if (m_hwnd)
            PostMessageW(m_hwnd, WM_COMMAND, IDCANCEL, 0);
        if (m_thread && WaitForSingleObject(m_thread.get(), 10000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the test dialog did not close";
            (void)TerminateThread(m_thread.get(), 1); // a hung dialog must not hang the run too
        }
    }
    CProbedDialog(const CProbedDialog&) = delete;
    CProbedDialog& operator=(const CProbedDialog&) = delete;

    HWND Item(int id) const { return GetDlgItem(m_hwnd, id); }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_log;
    }
    void ClearLog() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_log.clear();
    }
    // Waits until the log holds this line; false on time-out.
    bool WaitForLine(const std::string& line, DWORD timeoutMs = kEventTimeoutMs) {
        const ULONGLONG start = GetTickCount64();
        do {
            for (const std::string& entry : Log())
                if (entry == line)
                    return true;
            Sleep(20);
        } while (GetTickCount64() - start < timeoutMs);
        return false;
    }
    // After delayMs the disabled button is enabled, the status reads "完了" and the list gains an
    // item, all at once.
    void ChangeLater(DWORD delayMs) { PostMessageW(m_hwnd, kChangeLater, delayMs, 0); }

private:
    static DWORD WINAPI Thread(void* p) {
        CProbedDialog* self = static_cast<CProbedDialog*>(p);
        win::ComScope com; // a program's dialog thread has COM, which the file dialog uses
        (void)DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROBE_TEST), nullptr,
                              &CProbedDialog::Proc,
                              reinterpret_cast<LPARAM>(self)); // failure: m_hwnd stays null
        SetEvent(self->m_ready.get());
        return 0;
    }

    void Record(const std::string& line) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_log.push_back(line);
    }

    void OnInit(HWND hwnd) {
        m_hwnd = hwnd;
        SendDlgItemMessageW(hwnd, IDC_TEST_HSLIDER, TBM_SETRANGE, TRUE, MAKELPARAM(0, 30));
        SendDlgItemMessageW(hwnd, IDC_TEST_VSLIDER, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
        for (const wchar_t* text : {L"alpha", L"beta", kGamma})
            SendDlgItemMessageW(hwnd, IDC_TEST_COMBO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        for (const wchar_t* text : {L"clip 1", L"clip 2", L"clip 3"})
            AddListItem(text);
        SetEvent(m_ready.get());
    }

    void AddListItem(const wchar_t* text) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(SendDlgItemMessageW(m_hwnd, IDC_TEST_LIST, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = const_cast<wchar_t*>(text);
        SendDlgItemMessageW(m_hwnd, IDC_TEST_LIST, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }

    void OnCommand(int id, int code) {
        if (code != BN_CLICKED && !(id == IDC_TEST_COMBO && code == CBN_SELCHANGE))
            return;
        switch (id) {
        case IDC_TEST_COMBO:
            Record("selchange " +
                   std::to_string(SendDlgItemMessageW(m_hwnd, IDC_TEST_COMBO, CB_GETCURSEL, 0, 0)));
            return;
        case IDC_TEST_CHECK:
            Record("clicked 1004 checked=" + std::to_string(IsDlgButtonChecked(m_hwnd, IDC_TEST_CHECK)));
            return;
        case IDC_TEST_SAVE: {
            wchar_t file[MAX_PATH] = L"";
            OPENFILENAMEW ofn = {};
            ofn.lStructSize = sizeof ofn;
            ofn.hwndOwner = m_hwnd;
            ofn.lpstrFilter = L"AVI\0*.avi\0";
            ofn.lpstrFile = file;
            ofn.nMaxFile = MAX_PATH;
            ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
            const BOOL ok = GetSaveFileNameW(&ofn);
            Record("save " + std::to_string(ok) + " " + win::Utf8(file));
            return;
        }
        case IDC_TEST_COMPRESSOR: {
            COMPVARS choice = {};
            choice.cbSize = sizeof choice;
            choice.dwFlags = ICMF_COMPVARS_VALID;
            choice.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
            const BOOL ok = ICCompressorChoose(m_hwnd, 0, nullptr, nullptr, &choice, nullptr);
            Record("compressor " + std::to_string(ok));
            if (ok)
                ICCompressorFree(&choice);
            return;
        }
        default:
            Record("clicked " + std::to_string(id));
            return;
        }
    }

    void OnScroll(const char* kind, WPARAM wParam, HWND control) {
        const LRESULT pos = SendMessageW(control, TBM_GETPOS, 0, 0);
        Record(std::string(kind) + " " + std::to_string(GetDlgCtrlID(control)) + " " +
               std::to_string(LOWORD(wParam)) + " " + std::to_string(HIWORD(wParam)) +
               " pos=" + std::to_string(pos));
    }

    void OnNotify(const NMHDR* header) {
        if (header->idFrom != IDC_TEST_LIST)
            return;
        if (header->code == NM_DBLCLK) {
            Record("dblclk " + std::to_string(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem));
        } else if (header->code == LVN_ITEMCHANGED) {
            const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
            if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
                !(change->uOldState & LVIS_SELECTED))
                Record("selected " + std::to_string(change->iItem));
        }
    }

    static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
            reinterpret_cast<CProbedDialog*>(lParam)->OnInit(hwnd);
            return TRUE;
        }
        CProbedDialog* self = reinterpret_cast<CProbedDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
        if (!self)
            return FALSE;
        try {
            switch (message) {
            case WM_COMMAND:
                if (LOWORD(wParam) == IDCANCEL && lParam == 0) {
                    EndDialog(hwnd, 0);
                    return TRUE;
                }
                self->OnCommand(LOWORD(wParam), HIWORD(wParam));
                return TRUE;
            case WM_HSCROLL:
                self->OnScroll("hscroll", wParam, reinterpret_cast<HWND>(lParam));
                return TRUE;
            case WM_VSCROLL:
                self->OnScroll("vscroll", wParam, reinterpret_cast<HWND>(lParam));
                return TRUE;
            case WM_NOTIFY:
                self->OnNotify(reinterpret_cast<const NMHDR*>(lParam));
                return FALSE;
            case kChangeLater:
                SetTimer(hwnd, kChangeTimer, static_cast<UINT>(wParam), nullptr);
                return TRUE;
            case WM_TIMER:
                KillTimer(hwnd, kChangeTimer);
                EnableWindow(self->Item(IDC_TEST_DISABLED), TRUE);
                SetDlgItemTextW(hwnd, IDC_TEST_STATUS, kDone);
                self->AddListItem(L"clip 4");
                return TRUE;
            default:
                return FALSE;
            }
        } catch (...) {
            return FALSE; // out of memory in the log: the test fails on the missing line
        }
    }

    win::UniqueHandle m_ready;
    win::UniqueHandle m_thread;
    HWND m_hwnd = nullptr;
    std::mutex m_lock;
    std::vector<std::string> m_log;
};

class ProbeTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc = {sizeof icc,
                                    ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        ASSERT_TRUE(InitCommonControlsEx(&icc));
    }

    // A probe run on the test dialog: "<verb> "zxprobe test dialog" <rest>".
    static ProbeRun Probe(const std::wstring& verb, const std::wstring& rest = L"") {
        return RunProbe(verb + L" " + kDialog + (rest.empty() ? L"" : L" " + rest));
    }

    CProbedDialog m_dialog;
};

} // namespace

// What a user cannot press, the probe refuses, saying why; what a user can, it presses once. The
// refusals come first: clicks are posted, and the dialog handles its messages in order, so when
// the good click arrives any click a refusal let through would be in the log before it.
TEST_F(ProbeTest, ClickPressesOnlyWhatAUserCouldPress) {
    const struct {
        std::wstring args;
        const char* reason;
    } refused[] = {
        {kDialog + L" 1002", "disabled"},
        {kDialog + L" 1003", "hidden"},
        {kDialog + L" 1030", "not a button"},
        {kDialog + L" 9999", "no control 9999"},
        {L"\"no such window\" 1001", "no window titled"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.reason);
        const ProbeRun run = RunProbe(L"click " + c.args);
        EXPECT_EQ(1u, run.exitCode) << run.Transcript();
        EXPECT_NE(std::string::npos, run.Line().find(c.reason)) << run.Transcript();
    }
    ProbeRun run = Probe(L"click", L"1001");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    ASSERT_TRUE(m_dialog.WaitForLine("clicked 1001"));

    run = Probe(L"click", L"1004");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    ASSERT_TRUE(m_dialog.WaitForLine("clicked 1004 checked=1")) << "a check box ticks as a click ticks it";
    EXPECT_EQ((std::vector<std::string>{"clicked 1001", "clicked 1004 checked=1"}), m_dialog.Log());
}

// A drag and release tells the dialog the track, the final position and the end of the track,
// with the thumb already there; a vertical track bar scrolls vertically. Nothing moves for a
// position outside the range.
TEST_F(ProbeTest, SlideMovesTheThumbAndNotifiesAsAReleasedDrag) {
    const struct {
        const wchar_t* id;
        const wchar_t* position;
        const char* expected[3];
    } cases[] = {
        {L"1010", L"12", {"hscroll 1010 5 12 pos=12", "hscroll 1010 4 12 pos=12", "hscroll 1010 8 0 pos=12"}},
        {L"1011", L"70", {"vscroll 1011 5 70 pos=70", "vscroll 1011 4 70 pos=70", "vscroll 1011 8 0 pos=70"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(win::Utf8(c.id));
        m_dialog.ClearLog();
        const ProbeRun run = Probe(L"slide", std::wstring(c.id) + L" " + c.position);
        EXPECT_EQ(0u, run.exitCode) << run.Transcript();
        // The notifications are sent, not posted: they are in the log when the probe has ended.
        EXPECT_EQ((std::vector<std::string>(std::begin(c.expected), std::end(c.expected))), m_dialog.Log());
    }
    m_dialog.ClearLog();
    const ProbeRun run = Probe(L"slide", L"1010 31");
    EXPECT_EQ(1u, run.exitCode) << run.Transcript();
    EXPECT_NE(std::string::npos, run.Line().find("outside the track bar's range 0..30")) << run.Transcript();
    EXPECT_TRUE(m_dialog.Log().empty());
    EXPECT_EQ(12, SendMessageW(m_dialog.Item(IDC_TEST_HSLIDER), TBM_GETPOS, 0, 0));
}

TEST_F(ProbeTest, ComboBoxIsCountedReadAndChosenWithItsNotification) {
    ProbeRun run = Probe(L"count", L"1020");
    EXPECT_EQ("3", run.Line()) << run.Transcript();
    run = Probe(L"text", L"1020 2");
    EXPECT_EQ(kGammaUtf8, run.Line()) << run.Transcript();

    run = Probe(L"select", L"1020 2");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    EXPECT_EQ((std::vector<std::string>{"selchange 2"}), m_dialog.Log())
        << "chosen before the dialog hears of it";
    run = Probe(L"selected", L"1020");
    EXPECT_EQ("2", run.Line()) << run.Transcript();
    run = Probe(L"text", L"1020");
    EXPECT_EQ(kGammaUtf8, run.Line()) << "the box shows its choice" << run.Transcript();

    run = Probe(L"select", L"1020 3");
    EXPECT_EQ(1u, run.exitCode) << run.Transcript();
    EXPECT_NE(std::string::npos, run.Line().find("there are 3 items, no item 3")) << run.Transcript();
    EXPECT_EQ(1u, m_dialog.Log().size());
}

// The clip list's way: items read and selected through memory in this process, and a double-click
// that reaches the dialog as NM_DBLCLK for the item under the mouse, which it also selects.
TEST_F(ProbeTest, ListViewIsCountedReadSelectedAndDoubleClicked) {
    ProbeRun run = Probe(L"count", L"1040");
    EXPECT_EQ("3", run.Line()) << run.Transcript();
    run = Probe(L"text", L"1040 1");
    EXPECT_EQ("clip 2", run.Line()) << run.Transcript();
    run = Probe(L"selected", L"1040");
    EXPECT_EQ("-1", run.Line()) << run.Transcript();

    run = Probe(L"select", L"1040 1");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    EXPECT_EQ((std::vector<std::string>{"selected 1"}), m_dialog.Log());
    run = Probe(L"selected", L"1040");
    EXPECT_EQ("1", run.Line()) << run.Transcript();

    m_dialog.ClearLog();
    run = Probe(L"dblclick", L"1040 2");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    ASSERT_TRUE(m_dialog.WaitForLine("dblclk 2")) << testing::PrintToString(m_dialog.Log());
    EXPECT_TRUE(m_dialog.WaitForLine("selected 2")) << testing::PrintToString(m_dialog.Log());
    run = Probe(L"selected", L"1040");
    EXPECT_EQ("2", run.Line()) << run.Transcript();

    for (const wchar_t* verb : {L"select", L"dblclick", L"text"}) {
        SCOPED_TRACE(win::Utf8(verb));
        run = Probe(verb, L"1040 3");
        EXPECT_EQ(1u, run.exitCode) << run.Transcript();
        EXPECT_NE(std::string::npos, run.Line().find("no item 3")) << run.Transcript();
    }
}

// A wait ends when the control changes, and fails once its time is up when it does not.
TEST_F(ProbeTest, WaitsEndWhenTheControlChangesAndFailAfterTheirTimeOut) {
    const std::wstring done = kDone;
    const struct {
        std::wstring verb, rest;
    } waits[] = {
        {L"wait-enabled", L"1002 1"},
        {L"wait-text", L"1030 " + done},
        {L"wait-count", L"1040 4"},
    };
    for (const auto& w : waits) {
        SCOPED_TRACE(win::Utf8(w.verb));
        const ProbeRun run = Probe(w.verb, w.rest + L" 300");
        EXPECT_EQ(1u, run.exitCode) << run.Transcript();
        EXPECT_GE(run.elapsedMs, 300u) << "it waited its time";
    }
    m_dialog.ChangeLater(1500);
    for (const auto& w : waits) {
        SCOPED_TRACE(win::Utf8(w.verb));
        const ProbeRun run = Probe(w.verb, w.rest + L" 20000");
        EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    }
    const ProbeRun run = Probe(L"wait-enabled", L"1002 0 300");
    EXPECT_EQ(1u, run.exitCode) << "it stays enabled" << run.Transcript();
}

// The file dialog gets the typed path and closes with Save; the compressor chooser closes with
// OK. With no dialog open, both give up after their time.
TEST_F(ProbeTest, SaveAsAndConfirmAnswerTheProgramsCommonDialogs) {
    const std::wstring folder = testing_support::MakeTempFolder(L"probe");
    ASSERT_FALSE(folder.empty());
    const std::wstring path = folder + L"clip " + kGamma + L".avi";

    ProbeRun run = Probe(L"click", L"1050");
    ASSERT_EQ(0u, run.exitCode) << run.Transcript();
    run = Probe(L"save-as", L"\"" + path + L"\"");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    EXPECT_TRUE(m_dialog.WaitForLine("save 1 " + win::Utf8(path))) << testing::PrintToString(m_dialog.Log());

    run = Probe(L"click", L"1051");
    ASSERT_EQ(0u, run.exitCode) << run.Transcript();
    run = Probe(L"confirm");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    EXPECT_TRUE(m_dialog.WaitForLine("compressor 1")) << testing::PrintToString(m_dialog.Log());

    for (const wchar_t* verb : {L"save-as", L"confirm"}) {
        SCOPED_TRACE(win::Utf8(verb));
        run = RunProbe(std::wstring(verb) + L" " + kDialog + (verb[0] == L's' ? L" x.avi 500" : L" 500"));
        EXPECT_EQ(1u, run.exitCode) << run.Transcript();
        EXPECT_NE(std::string::npos, run.Line().find("opened no")) << run.Transcript();
    }
    testing_support::RemoveFolder(folder);
}

// The real program's dialog, from its own template: its captions come through whole, and its
// top-most box ticks and takes effect as a user's click does.
TEST(ProbeOnZarvexTest, ReadsAndPressesTheRealDialogsControls) {
    testing_support::ZarvexProcess app;
    ASSERT_TRUE(app.Start()) << app.Failure();
    ProbeRun run = RunProbe(L"text Zarvex 1");
    EXPECT_EQ("\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\x97\xE3\x83\x81\xE3\x83\xA3", run.Line()) << run.Transcript();

    ASSERT_EQ(0, GetWindowLongW(app.Window(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    run = RunProbe(L"click Zarvex " + std::to_wstring(IDC_TOPMOST));
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    const ULONGLONG start = GetTickCount64();
    while (!(GetWindowLongW(app.Window(), GWL_EXSTYLE) & WS_EX_TOPMOST) && GetTickCount64() - start < 5000)
        Sleep(20);
    EXPECT_NE(0, GetWindowLongW(app.Window(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(BST_CHECKED, SendMessageW(app.Item(IDC_TOPMOST), BM_GETCHECK, 0, 0));

    run = RunProbe(L"close Zarvex");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    EXPECT_TRUE(app.WaitForExit(10000));
}
