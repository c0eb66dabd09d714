// CSoakClient: the video application of a soak run, ZarvexViewer.exe streaming from ZarvexDevice,
// and the rate at which frames reach it.
//
// The rate is asked of the viewer itself (kQueryMessage, ViewerProtocol.h): the frames it received
// and for how long its graph has run. TakeMinute turns the answers into the frames per second of
// running time since the previous call, counting across a restart, so the seconds a new viewer
// spends starting do not count against the device.
//
// Threading: one thread uses the object.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ChildProcess.h"

namespace soak {

class CSoakClient {
public:
    CSoakClient(const std::wstring& binDir, SIZE size);
    ~CSoakClient() { Kill(); }
    CSoakClient(const CSoakClient&) = delete;
    CSoakClient& operator=(const CSoakClient&) = delete;

    // Starts a viewer and waits until its graph runs; false, with the reason, when it does not.
    bool Start(DWORD timeoutMs, std::wstring* pWhy);
    // Ends the viewer as a crash would (its figures so far still count).
    void Kill();
    // Closes the viewer as a user would, and kills it when it does not leave in time.
    void Close(DWORD timeoutMs);
    bool IsRunning() const { return m_process && m_process->IsRunning(); }

    // Frames per second of running time since the last call, or -1 when the viewer ran for too
    // short a time to tell (or did not answer).
    double TakeMinute();

    // Lines the viewer wrote since the last call (errors, "ended ..."), for the run's log.
    std::string TakeOutput();

private:
    // Asks the running viewer; false when it does not answer.
    bool Ask(unsigned long long* pFrames, unsigned long long* pRunningMs);
    // Adds what the viewer received since the last count to this minute's.
    void Count();

    const std::wstring m_exe;
    const SIZE m_size;
    std::unique_ptr<proc::ChildProcess> m_process; // one per viewer started
    HWND m_window = nullptr;
    // The viewer's answers at the last count, and this minute's totals.
    unsigned long long m_frames = 0, m_runningMs = 0;
    unsigned long long m_minuteFrames = 0, m_minuteMs = 0;
};

} // namespace soak
