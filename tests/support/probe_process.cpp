#include "probe_process.h"

#include <gtest/gtest.h>

#include "child_process.h"
#include "test_paths.h"

namespace testing_support {

std::string ProbeRun::Transcript() const {
    std::string text = "zxprobe exit code " + std::to_string(exitCode) + "\n";
    for (const std::string& line : lines)
        text += "  | " + line + "\n";
    return text;
}

ProbeRun RunProbe(const std::wstring& args, DWORD timeoutMs) {
    ProbeRun run;
    ChildProcess probe;
    ChildProcess::Options options;
    options.args = args;
    options.pipes = true;
    const ULONGLONG start = GetTickCount64();
    if (!probe.Start(BinDir() + L"zxprobe.exe", options)) {
        ADD_FAILURE() << probe.Error();
        return run;
    }
    probe.CloseInput();
    if (!probe.WaitForExit(timeoutMs))
        probe.Kill(STILL_ACTIVE);
    else
        run.exitCode = probe.ExitCode();
    run.elapsedMs = static_cast<DWORD>(GetTickCount64() - start);
    std::string line;
    // The probe has ended, so its output has too; what is left in the pipe comes at once.
    while (probe.ReadLine(&line, 5000))
        run.lines.push_back(line);
    return run;
}

::testing::AssertionResult Probe(const std::wstring& args, DWORD timeoutMs) {
    const ProbeRun run = RunProbe(args, timeoutMs);
    if (run.exitCode == 0)
        return ::testing::AssertionSuccess();
    std::string command;
    for (wchar_t c : args)
        command += c < 0x80 ? static_cast<char>(c) : '?';
    return ::testing::AssertionFailure() << "zxprobe " << command << ": " << run.Transcript();
}

} // namespace testing_support
