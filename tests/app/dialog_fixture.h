// Runs the real main dialog inside the test process, on a thread of its own, so a test can reach
// its members and everything a window of the same process can be asked (menus, icons).
//
// Threading: the dialog is made, run modally and destroyed on an owned thread of its own (its COM
// scope belongs to that thread, as in the program). The test thread talks to it through messages
// (SendMessage waits for the dialog thread) and touches its members only while the dialog idles
// between messages.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ZarvexDlg.h"
#include "afx_app.h"
#include "afx_thread.h"

namespace testing_support {

class DialogThread {
public:
    // Leaves `settings` as the dialog's settings file (no file at all for nullopt), then starts the
    // dialog and waits for its window; window() is null when it did not appear.
    explicit DialogThread(const std::optional<std::string>& settings = std::nullopt);
    // Closes the dialog if it still runs, joins its thread and removes the settings file it wrote.
    ~DialogThread();
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;

    HWND window() const { return m_hwnd; }
    HWND item(int id) const { return GetDlgItem(m_hwnd, id); }
    // The dialog object; valid until Close.
    CZarvexDlg& dialog() { return *m_dlg; }

    // Closes the dialog as the exit button does and joins its thread; false when it did not end.
    // afterClose, when given, runs on the dialog thread once the window is destroyed and before the
    // dialog object is, so it sees the members as the shutdown left them.
    bool Close(std::function<void(CZarvexDlg&)> afterClose = nullptr);

    // Runs f on the dialog thread, between two of the dialog's messages, and returns when it has
    // run; false when it could not be run within 30 s.
    bool Call(const std::function<void(CZarvexDlg&)>& f);

    // The settings file's bytes, or nullopt when there is none.
    static std::optional<std::string> ReadSettings();

private:
    static UINT __cdecl Run(LPVOID self);
    static LRESULT CALLBACK CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    std::function<void(CZarvexDlg&)> m_afterClose;
    win::UniqueHandle m_ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    CZarvexDlg* m_dlg = nullptr; // lives on the dialog thread's stack; set before m_ready
    std::unique_ptr<CWinThread> m_thread;
    HWND m_hwnd = nullptr;
    HWND m_hwndCall = nullptr; // a message-only window of the dialog thread that runs Call's functions
    bool m_closed = false;
};

// Stands in for the user in front of the dialog's message boxes while it lives: records every text
// shown (on whichever thread) and answers OK, or the answer given.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = IDOK) {
        AfxSetMessageBoxSink([this, answer](const std::wstring& text, UINT) {
            std::lock_guard<std::mutex> hold(m_lock);
            m_texts.push_back(text);
            return answer;
        });
    }
    ~MessageBoxRecorder() { AfxSetMessageBoxSink(nullptr); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
    std::vector<std::wstring> Texts() const {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_texts;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::wstring> m_texts;
};

// Reaches the dialog's private state for the tests: the clips and their thumbnails, the sound
// devices and the sound capture.
struct ZarvexDlgTestAccess {
    static CClipArray& Clips(CZarvexDlg& dlg) { return dlg.m_clips; }
    static CImageList& Thumbnails(CZarvexDlg& dlg) { return dlg.m_thumbs; }
    static void RefillClipList(CZarvexDlg& dlg) { dlg.RefillClipList(); }
    static CSoundDeviceArray& SoundDevices(CZarvexDlg& dlg) { return dlg.m_soundDevices; }
    static CSoundCapture* SoundCapture(CZarvexDlg& dlg) { return dlg.m_pSoundCapture.get(); }
    static CSoundBlockArray& Sounds(CZarvexDlg& dlg) { return dlg.m_sounds; }
    static CClipMaker& ClipMaker(CZarvexDlg& dlg) { return dlg.m_clipMaker; }
    static CFrameStore& Ring(CZarvexDlg& dlg) { return dlg.m_ring; }
    static bool IsArmed(const CZarvexDlg& dlg) { return dlg.m_bArmed; }
};

} // namespace testing_support
