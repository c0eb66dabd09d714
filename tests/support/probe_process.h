// RunProbe: one run of zxprobe.exe (tools/probe), the window prober, through ChildProcess: what it
// printed and how it left. Its output and error output share the one pipe.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

struct ProbeRun {
    DWORD exitCode = STILL_ACTIVE; // STILL_ACTIVE: it did not end within the time-out (and was killed)
    std::vector<std::string> lines;
    DWORD elapsedMs = 0;

    // The first line, or "" when it printed nothing.
    std::string Line() const { return lines.empty() ? std::string() : lines.front(); }
    // Everything it printed, for a failure message.
    std::string Transcript() const;
};

// Runs zxprobe with this command line (after the program name) and waits at most timeoutMs for it
// to end. A probe that cannot start fails the test.
ProbeRun RunProbe(const std::wstring& args, DWORD timeoutMs = 60000);

// RunProbe for a step that must work: success when zxprobe did what it was asked, else a failure
// naming the command and carrying what zxprobe said.
::testing::AssertionResult Probe(const std::wstring& args, DWORD timeoutMs = 60000);

} // namespace testing_support
