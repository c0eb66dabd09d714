// ModalDialogHelper: answers the modal dialogs that a test's own thread opens (the system's file
// and compressor choosers, their message boxes), as a user would, from a helper thread.
//
// Threading: the constructor starts the helper thread; the test thread then makes the modal call,
// whose message loop keeps the dialogs alive, and calls Join once it has returned (or lets the
// destructor do it). The helper looks for the dialogs of one thread only: the constructing thread,
// or the one named (a dialog thread that the test makes the modal call on). Until Join,
// any dialog beyond the expected ones (or one left open when an action's dialog never came) is
// cancelled and recorded, so that a test can fail but never hang. Results are read after Join.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

class ModalDialogHelper {
public:
    using Action = std::function<void(HWND dialog)>;
    static constexpr DWORD kWaitMs = 10000;
    static constexpr DWORD kGraceMs = 3000;

    // One action per dialog, in order. Each waits (at most kWaitMs) for the thread's active
    // dialog: a visible, enabled "#32770" window. After an action the helper waits until that
    // dialog is gone or disabled (by a dialog of its own) before it looks for the next one.
    // threadId: the thread whose dialogs are answered, by default the constructing one. ignore: a
    // dialog of that thread that is neither answered nor cancelled (the program's own main dialog).
    explicit ModalDialogHelper(std::vector<Action> actions, DWORD threadId = GetCurrentThreadId(),
                               HWND ignore = nullptr)
        : m_threadId(threadId), m_ignore(ignore), m_actions(std::move(actions)), m_thread([this] { Run(); }) {
    }
    ~ModalDialogHelper() { Join(); }
    ModalDialogHelper(const ModalDialogHelper&) = delete;
    ModalDialogHelper& operator=(const ModalDialogHelper&) = delete;

    void Join() {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Dialogs found and acted on, and their captions, in order.
    int Answered() const { return static_cast<int>(m_captions.size()); }
    const std::vector<std::string>& Captions() const { return m_captions; }
    // Captions of the dialogs that were cancelled because no action was left for them.
    const std::vector<std::string>& Unexpected() const { return m_unexpected; }

    // Helpers for actions.
    static std::string TextOf(HWND window) {
        char text[512] = {};
        GetWindowTextA(window, text, sizeof text);
        return text;
    }
    // A push button press: the command its click sends to the dialog.
    static void Press(HWND dialog, int id) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }
    // The first descendant window of the given class (and control id, unless -1).
    static HWND FindDescendant(HWND parent, const char* className, int id = -1) {
        struct Search {
            const char* className;
            int id;
            HWND found;
        } search = {className, id, nullptr};
        EnumChildWindows(
            parent,
            [](HWND child, LPARAM param) -> BOOL {
                auto* s = reinterpret_cast<Search*>(param);
                char name[64] = {};
                GetClassNameA(child, name, sizeof name);
                if (lstrcmpiA(name, s->className) == 0 && (s->id == -1 || GetDlgCtrlID(child) == s->id)) {
                    s->found = child;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    // The save dialog's file name box: the edit inside control cmb13 (0x47C) of the explorer-style
    // dialog, or the plain edit edt1 (0x480) where a system draws that one instead.
    static HWND FileNameEdit(HWND dialog) {
        if (HWND box = FindDescendant(dialog, "ComboBoxEx32", 0x47C))
            return FindDescendant(box, "Edit");
        if (HWND box = FindDescendant(dialog, "ComboBox", 0x47C))
            return FindDescendant(box, "Edit");
        return FindDescendant(dialog, "Edit", 0x480);
    }
    // Common answers. The name typed into a save dialog, then its Save button.
    static Action SaveAs(const std::string& path) {
        return [path](HWND d) {
            Type(FileNameEdit(d), path);
            Press(d, IDOK);
        };
    }
    static Action PressButton(int id) {
        return [id](HWND d) { Press(d, id); };
    }
    // act on the visible dialog with this title, waited for (at most kWaitMs): after an overwrite
    // prompt the save dialog may still be the active one for a moment while it closes, and this
    // action would otherwise go to it.
    static Action InDialogTitled(const std::string& title, Action act) {
        return InDialogWhere([title](HWND d) { return TextOf(d) == title; }, std::move(act));
    }
    // Presses button id of the dialog that has one (a Yes/No prompt's IDYES or IDNO), waited for
    // as above: right after its owner's OK the owner is still the active dialog.
    static Action AnswerPrompt(int id) {
        return InDialogWhere([id](HWND d) { return GetDlgItem(d, id) != nullptr; },
                             [id](HWND d) { Press(d, id); });
    }
    // act on the first visible dialog of the given dialog's thread that passes the test, waited
    // for (at most kWaitMs).
    static Action InDialogWhere(std::function<bool(HWND)> test, Action act) {
        return [test, act](HWND) {
            // The thread whose dialogs this helper answers: the dialog handed over may be gone.
            const DWORD thread = t_answeredThread;
            for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
                HWND found = nullptr;
                while ((found = FindWindowExA(nullptr, found, "#32770", nullptr)) != nullptr)
                    if (GetWindowThreadProcessId(found, nullptr) == thread && IsWindowVisible(found) &&
                        IsWindowEnabled(found) && test(found))
                        return act(found);
                Sleep(20);
            }
            ADD_FAILURE() << "the dialog to answer did not open";
        };
    }
    // The compressor chooser's title.
    static constexpr const char* kChooserTitle = "Video Compression";

    // Types text into an edit control character by character, after clearing it.
    static void Type(HWND edit, const std::string& text) {
        SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        for (char c : text)
            SendMessageA(edit, WM_CHAR, static_cast<BYTE>(c), 0);
    }
    // Selects the first combo box item whose text contains part, and tells the dialog as a user's
    // choice would. False when no item has it.
    static bool SelectComboItem(HWND dialog, HWND combo, const std::string& part) {
        const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[256] = {};
            if (SendMessageA(combo, CB_GETLBTEXTLEN, i, 0) >= static_cast<LRESULT>(sizeof text))
                continue;
            SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            if (std::string(text).find(part) != std::string::npos) {
                SendMessageA(combo, CB_SETCURSEL, i, 0);
                SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(combo));
                return true;
            }
        }
        return false;
    }

private:
    HWND ActiveDialog() const {
        struct Search {
            HWND ignore;
            HWND found;
        } search = {m_ignore, nullptr};
        EnumThreadWindows(
            m_threadId,
            [](HWND window, LPARAM param) -> BOOL {
                auto* s = reinterpret_cast<Search*>(param);
                char name[16] = {};
                GetClassNameA(window, name, sizeof name);
                if (window != s->ignore && lstrcmpA(name, "#32770") == 0 && IsWindowVisible(window) &&
                    IsWindowEnabled(window)) {
                    s->found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // Waits for done, at most kWaitMs, and no longer than until Join.
    template <typename Condition> bool WaitUntil(Condition done) const {
        for (DWORD waited = 0; waited < kWaitMs && !m_done; waited += 20) {
            if (done())
                return true;
            Sleep(20);
        }
        return done();
    }

    void Run() {
        RunActions();
        // A dialog that was answered may still be active for a moment while it closes (the file
        // dialog once its overwrite prompt is gone): only one that stays active is unexpected.
        HWND seen = nullptr;
        DWORD since = 0;
        while (!m_done) {
            HWND dialog = ActiveDialog();
            if (dialog != seen) {
                seen = dialog;
                since = GetTickCount();
            } else if (dialog && GetTickCount() - since >= kGraceMs) {
                m_unexpected.push_back(TextOf(dialog));
                Press(dialog, IDCANCEL);
                PostMessageA(dialog, WM_CLOSE, 0, 0);
                WaitUntil([&] { return !IsWindow(dialog) || !IsWindowEnabled(dialog); });
                seen = nullptr;
            }
            Sleep(20);
        }
    }

    void RunActions() {
        for (const Action& action : m_actions) {
            HWND dialog = nullptr;
            if (!WaitUntil([&] { return (dialog = ActiveDialog()) != nullptr; }))
                return;
            m_captions.push_back(TextOf(dialog));
            t_answeredThread = m_threadId;
            action(dialog);
            if (!WaitUntil([&] {
                    return !IsWindow(dialog) || !IsWindowEnabled(dialog) || !IsWindowVisible(dialog);
                }))
                return;
        }
    }

    // The thread whose dialogs the running action answers (actions run on the helper's thread).
    static inline thread_local DWORD t_answeredThread = 0;

    DWORD m_threadId;
    HWND m_ignore;
    std::atomic<bool> m_done{false};
    std::vector<Action> m_actions;
    std::vector<std::string> m_captions;
    std::vector<std::string> m_unexpected;
    std::thread m_thread; // last: it starts once everything it reads is made
};

} // namespace testing_support
