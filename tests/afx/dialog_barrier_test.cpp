// The dialog procedure's exception barrier: whatever a handler throws is reported, the message
// counts as unhandled and the dialog goes on answering.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "UniqueAny.h"
#include "afx_test_resources.h"
#include "afx_thread.h"
#include "afx_wnd.h"
#include "report_recorder.h"
#include "throwers.h"

namespace {

using afx_test::kThrowers;
using afx_test::ReportRecorder;

constexpr UINT WM_ALIVE = WM_APP;     // answered with kAliveAnswer
constexpr UINT WM_THROW = WM_APP + 1; // wParam: index into kThrowers
constexpr LRESULT kAliveAnswer = 1234;

class ThrowingDialog : public CDialog {
public:
    // initThrower: raised by OnInitDialog after the window is announced; null for none.
    explicit ThrowingDialog(const afx_test::Thrower* initThrower)
        : CDialog(IDD_AFX_TEST_DIALOG), m_initThrower(initThrower) {}

    std::atomic<HWND> m_window{nullptr};
    win::UniqueHandle m_ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};

protected:
    BOOL OnInitDialog() override {
        m_window = m_hWnd;
        SetEvent(m_ready.get());
        if (m_initThrower)
            m_initThrower->raise();
        return TRUE;
    }
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT* result) override {
        if (msg == WM_ALIVE) {
            *result = kAliveAnswer;
            return TRUE;
        }
        if (msg == WM_THROW)
            kThrowers[wParam].raise();
        return FALSE;
    }

private:
    const afx_test::Thrower* m_initThrower;
};

UINT __cdecl RunModal(LPVOID param) {
    return static_cast<UINT>(static_cast<ThrowingDialog*>(param)->DoModal());
}

// The dialog run modally on a thread of its own; the test talks to it with SendMessage.
class DialogOnItsThread {
public:
    explicit DialogOnItsThread(const afx_test::Thrower* initThrower = nullptr)
        : m_dialog(new ThrowingDialog(initThrower)),
          m_thread(AfxBeginOwnedThread(&RunModal, m_dialog.get())) {
        if (m_thread)
            WaitForSingleObject(m_dialog->m_ready.get(), 10000);
    }
    ~DialogOnItsThread() {
        if (!Close())
            (void)m_dialog.release(); // its thread may still use it: leaked rather than freed under it
    }
    DialogOnItsThread(const DialogOnItsThread&) = delete;
    DialogOnItsThread& operator=(const DialogOnItsThread&) = delete;

    HWND window() const { return m_dialog->m_window; }

    // Ends the dialog with Cancel and joins its thread; false when it did not end.
    bool Close() {
        if (!m_thread)
            return true;
        if (window() && IsWindow(window()))
            PostMessageW(window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return m_thread->Join(10000);
    }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeThread(*m_thread, &code);
        return code;
    }

private:
    std::unique_ptr<ThrowingDialog> m_dialog;
    std::unique_ptr<CWinThread> m_thread;
};

} // namespace

TEST(DialogBarrierTest, AHandlerThatThrowsIsReportedAndTheDialogRunsOn) {
    ReportRecorder reports;
    DialogOnItsThread dialog;
    ASSERT_TRUE(dialog.window()) << "the dialog did not appear";
    for (size_t i = 0; i < std::size(kThrowers); ++i) {
        SCOPED_TRACE(kThrowers[i].name);
        reports.Clear();
        EXPECT_EQ(0, SendMessageW(dialog.window(), WM_THROW, i, 0))
            << "a failed handler answers as unhandled";
        EXPECT_EQ(std::vector<std::wstring>{afx_test::ExpectedReport(kThrowers[i])}, reports.Texts());
        EXPECT_EQ(kAliveAnswer, SendMessageW(dialog.window(), WM_ALIVE, 0, 0));
    }
    ASSERT_TRUE(dialog.Close());
    EXPECT_EQ(static_cast<DWORD>(IDCANCEL), dialog.ExitCode()) << "the dialog ended the ordinary way";
}

TEST(DialogBarrierTest, AnInitialisationThatThrowsIsReportedAndTheDialogStillOpens) {
    // One exception of each report; the handler test above runs through every kind. (Each dialog
    // costs Wine two seconds to close without a window manager.)
    ReportRecorder reports;
    for (const afx_test::Thrower& thrower :
         {kThrowers[afx_test::kBadAlloc], kThrowers[afx_test::kRuntimeError]}) {
        SCOPED_TRACE(thrower.name);
        reports.Clear();
        DialogOnItsThread dialog(&thrower);
        ASSERT_TRUE(dialog.window()) << "the dialog did not appear";
        EXPECT_EQ(kAliveAnswer, SendMessageW(dialog.window(), WM_ALIVE, 0, 0));
        EXPECT_EQ(std::vector<std::wstring>{afx_test::ExpectedReport(thrower)}, reports.Texts());
        ASSERT_TRUE(dialog.Close());
        EXPECT_EQ(static_cast<DWORD>(IDCANCEL), dialog.ExitCode());
    }
}

TEST(DialogBarrierTest, AHandlerThatFailsAgainWhileItsReportIsOpenIsNotReportedTwice) {
    // The report's message box runs a message loop on the dialog's thread, where the same handler
    // (think of a paint handler) fails again. That second failure goes to the debug output only.
    DialogOnItsThread dialog;
    ASSERT_TRUE(dialog.window()) << "the dialog did not appear";
    const HWND hwnd = dialog.window();
    const WPARAM runtimeError = afx_test::kRuntimeError;
    std::mutex lock;
    std::vector<std::wstring> shown;
    AfxSetMessageBoxSink([&](const std::wstring& text, UINT) {
        {
            std::lock_guard<std::mutex> hold(lock);
            shown.push_back(text);
        }
        SendMessageW(hwnd, WM_THROW, runtimeError, 0); // on the dialog's thread, inside the report
        return IDOK;
    });
    SendMessageW(hwnd, WM_THROW, runtimeError, 0);
    AfxSetMessageBoxSink(nullptr);
    {
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_EQ(std::vector<std::wstring>{afx_test::kUnexpectedReport}, shown);
    }
    // Once the report is closed, a new failure is reported again.
    ReportRecorder reports;
    SendMessageW(hwnd, WM_THROW, runtimeError, 0);
    EXPECT_EQ(std::vector<std::wstring>{afx_test::kUnexpectedReport}, reports.Texts());
    EXPECT_EQ(kAliveAnswer, SendMessageW(hwnd, WM_ALIVE, 0, 0));
}
