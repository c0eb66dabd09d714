// CLinuxSide: the Linux process behind a Windows program that runs under Wine, seen through
// Wine's drive Z: (the Linux root), so that a soak run can record what the Linux kernel counts
// for it (its resident set and threads, Wine's own among them) beside what Windows reports.
//
// The process is found by its command line, which Wine sets to the Windows path of the program,
// among the Linux processes of this program's own Wine prefix (other prefixes on the machine may
// run a program of the same name). Outside Wine there is no Z:\proc and Attach fails: the figures
// are then simply not reported.
//
// Threading: one thread uses the object.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace soak {

class CLinuxSide {
public:
    // Finds the Linux process running exePath (a full Windows path, compared without regard to
    // case). False when there is none, or no Linux side at all.
    bool Attach(const std::wstring& exePath);
    bool Attached() const { return m_pid > 0; }
    unsigned long Pid() const { return m_pid; }

    // The process's VmRSS in KiB and its thread count, each -1 when it cannot be read (the process
    // has gone, or nothing was attached).
    void Read(std::int64_t* pRssKb, int* pThreads) const;

    // The machine's load average over the last minute, or -1 outside Wine: how much else the
    // machine was doing while the figures were taken.
    static double LoadAverage();

private:
    unsigned long m_pid = 0;
};

} // namespace soak
