// Runs the real main dialog inside the test process, on a thread of its own, so a test can reach
// its members and everything a window of the same process can be asked (menus, icons).
//
// Threading: the dialog is made, run modally and destroyed on an owned thread of its own (its COM
// scope belongs to that thread, as in the program). The test thread talks to it through messages
// (SendMessage waits for the dialog thread), runs code on the dialog thread (Run, Post) wherever
// the dialog's COM objects or windows are involved, and touches plain members only while the
// dialog idles between messages.
#pragma once

#include <windows.h>

#include <atomic>
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

    // The settings file's bytes, or nullopt when there is none.
    static std::optional<std::string> ReadSettings();

    // Runs task on the dialog thread, between two of its messages, and waits for it (at most
    // 60 s); false when it did not run.
    bool Run(std::function<void(CZarvexDlg&)> task);
    // Runs task on the dialog thread as soon as it takes its next message, without waiting.
    void Post(std::function<void(CZarvexDlg&)> task);
    // WM_CAPTURE_FRAME messages the dialog window was given so far.
    long CaptureFrameMessages() const { return s_captureFrames.load(); }

private:
    struct Task;
    static UINT __cdecl ThreadMain(LPVOID self);
    static LRESULT CALLBACK TaskHook(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SentMessageHook(int code, WPARAM wParam, LPARAM lParam);
    static UINT TaskMessage();

    static std::atomic<long> s_captureFrames; // one dialog thread at a time

    std::function<void(CZarvexDlg&)> m_afterClose;
    win::UniqueHandle m_ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    CZarvexDlg* m_dlg = nullptr; // lives on the dialog thread's stack; set before m_ready
    std::unique_ptr<CWinThread> m_thread;
    HWND m_hwnd = nullptr;
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
// devices and the sound capture, the frame ring, the device and format choice and the capture
// graph.
struct ZarvexDlgTestAccess {
    static CClipArray& Clips(CZarvexDlg& dlg) { return dlg.m_clips; }
    static CImageList& Thumbnails(CZarvexDlg& dlg) { return dlg.m_thumbs; }
    static void RefillClipList(CZarvexDlg& dlg) { dlg.RefillClipList(); }
    static CSoundDeviceArray& SoundDevices(CZarvexDlg& dlg) { return dlg.m_soundDevices; }
    static CSoundCapture* SoundCapture(CZarvexDlg& dlg) { return dlg.m_pSoundCapture.get(); }

    static CFrameStore& Ring(CZarvexDlg& dlg) { return dlg.m_ring; }
    static int FrameRate(CZarvexDlg& dlg) { return dlg.m_nFrameRate; }
    static int PreTime(CZarvexDlg& dlg) { return dlg.m_nPreTime; }
    static const CString& VideoDevice(CZarvexDlg& dlg) { return dlg.m_strVideoDevice; }
    static int VideoFormat(CZarvexDlg& dlg) { return dlg.m_nVideoFormat; }
    static const CVideoFormatArray& Formats(CZarvexDlg& dlg) { return dlg.m_formats; }
    static RECT Source(CZarvexDlg& dlg) { return dlg.m_rcSrc; }
    static RECT Destination(CZarvexDlg& dlg) { return dlg.m_rcDst; }
    static CCaptureGraph* VideoCapture(CZarvexDlg& dlg) { return dlg.m_pVideoCapture.get(); }
    static void StartVideoCapture(CZarvexDlg& dlg) { dlg.StartVideoCapture(); }
    static void StopVideoCapture(CZarvexDlg& dlg) { dlg.StopVideoCapture(); }

    static CSoundBlockArray& Sounds(CZarvexDlg& dlg) { return dlg.m_sounds; }
    static CClipMaker& ClipMaker(CZarvexDlg& dlg) { return dlg.m_clipMaker; }
    static bool IsArmed(const CZarvexDlg& dlg) { return dlg.m_bArmed; }
    static void Press(CZarvexDlg& dlg) { dlg.OnOK(); }
    static void PublishCurrentFrame(CZarvexDlg& dlg) { dlg.PublishCurrentFrame(); }

    static CClipPlayer& Player(CZarvexDlg& dlg) { return dlg.m_player; }
    static CSoundPlayer& SoundOutput(CZarvexDlg& dlg) { return dlg.m_soundOutput; }
    static int Volume(CZarvexDlg& dlg) { return dlg.m_nVolume; }
    static int SoundDelay(CZarvexDlg& dlg) { return dlg.m_nSoundDelay; }
};

} // namespace testing_support
