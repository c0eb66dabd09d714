// CSoakZarvex: the Zarvex.exe a soak run drives, as a user would, and watches from outside.
//
// It runs a copy of the built program from a folder of its own, so that its settings file (beside
// the executable) is the run's alone and starts from the defaults: the first video device (the
// test camera) and format, PreTime and EndTime 5 s. Every action goes through the probe's verbs
// (tools/probe), the way zxprobe.exe drives the dialog, so a control that is disabled is not used.
//
// Threading: one thread uses the object.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ChildProcess.h"
#include "LinuxSide.h"
#include "ProbeVerb.h"
#include "SoakReport.h"

namespace soak {

class CSoakZarvex {
public:
    // The folder and the copy of Zarvex.exe (from binDir) are made here; Failure() says why not.
    explicit CSoakZarvex(const std::wstring& binDir);
    // Ends the program if it still runs and removes its folder.
    ~CSoakZarvex();
    CSoakZarvex(const CSoakZarvex&) = delete;
    CSoakZarvex& operator=(const CSoakZarvex&) = delete;

    // Starts the program and waits for its dialog; false, with Failure(), when it does not show.
    bool Start(DWORD timeoutMs);
    bool IsRunning() const { return m_process.IsRunning(); }
    DWORD Pid() const { return m_process.Id(); }
    const std::wstring& Failure() const { return m_failure; }
    const std::wstring& ExePath() const { return m_exe; }

    // Whether a control of the dialog is enabled (false when it cannot be told).
    bool Enabled(int id) const;
    // Items in the clip list, or -1.
    int ClipCount();
    // Presses "キャプチャ" once it is enabled, waiting at most waitMs. False, with the reason in
    // *pWhy, when it stayed disabled or the press failed.
    bool Press(DWORD waitMs, std::wstring* pWhy);
    // Selects the clip at index and deletes it with the delete button; waits until the list has
    // one item less.
    bool DeleteClip(int index, std::wstring* pWhy);
    // Plays the clip at index: by a double-click on it, or by selecting it and pressing play.
    // False, with the reason, when the controls could not be used or no playback began: a
    // playback takes the capture button away until it ends.
    bool PlayClip(int index, bool doubleClick, std::wstring* pWhy);

    // What the process holds now (fills the figures of *pSample; -1 for what is not reported).
    void Measure(SoakSample* pSample);

    // Waits until the exit button is enabled (no clip being made or played), closes the dialog
    // and waits for the process to end. False, with the reason, when it had to be killed.
    bool Close(DWORD timeoutMs, std::wstring* pWhy);
    DWORD ExitCode() const { return m_process.ExitCode(); }

private:
    // One verb of the probe on the dialog; pOut may be null.
    bool Drive(probe::VerbFunction verb, const probe::VerbArgs& args, std::wstring* pOut,
               std::wstring* pWhy) const;

    std::wstring m_folder;
    std::wstring m_exe;
    std::wstring m_failure;
    proc::ChildProcess m_process;
    CLinuxSide m_linux;
};

} // namespace soak
