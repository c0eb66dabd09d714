#include "device_client_process.h"

#include <sstream>

#include "test_paths.h"

namespace testing_support {

namespace {

// Milliseconds left of a time-out that started at start, or 0.
DWORD Remaining(ULONGLONG start, DWORD timeoutMs) {
    const ULONGLONG spent = GetTickCount64() - start;
    return spent >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - spent);
}

} // namespace

DeviceClientProcess::DeviceClientProcess(const std::wstring& args) {
    ChildProcess::Options options;
    options.args = args;
    options.pipes = true;
    if (!m_process.Start(BinDir() + L"device_client.exe", options))
        ADD_FAILURE() << m_process.Error();
}

bool DeviceClientProcess::ReadOne(DWORD timeoutMs, std::string* line) {
    if (!m_process.ReadLine(line, timeoutMs))
        return false;
    m_lines.push_back(*line);
    if (line->rfind("frame ", 0) == 0) {
        ClientFrame frame;
        std::istringstream in(line->substr(6));
        in >> frame.index >> frame.bytes >> frame.kind;
        std::string word;
        while (in >> word) {
            if (word == "level")
                in >> frame.level;
            else
                frame.number = std::stoll(word);
        }
        m_frames.push_back(frame);
    }
    return true;
}

std::string DeviceClientProcess::WaitForLine(const std::string& prefix, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    std::string line;
    while (ReadOne(Remaining(start, timeoutMs), &line))
        if (line.rfind(prefix, 0) == 0)
            return line;
    return std::string();
}

bool DeviceClientProcess::WaitForFrame(const std::function<bool(const ClientFrame&)>& pred, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    std::string line;
    while (ReadOne(Remaining(start, timeoutMs), &line))
        if (line.rfind("frame ", 0) == 0 && pred(m_frames.back()))
            return true;
    return false;
}

bool DeviceClientProcess::ReadToEnd(DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    std::string line;
    while (ReadOne(Remaining(start, timeoutMs), &line)) {
    }
    return m_process.OutputEnded();
}

void DeviceClientProcess::Stop() {
    EXPECT_TRUE(m_process.WriteLine("stop")) << "the client's input is gone";
    EXPECT_NE("", WaitForLine("stopped ")) << Transcript();
    EXPECT_TRUE(m_process.WaitForExit(kLineTimeoutMs)) << "the client did not leave";
    EXPECT_EQ(0u, m_process.ExitCode()) << Transcript();
}

std::string DeviceClientProcess::Transcript() const {
    std::string text;
    for (const std::string& line : m_lines)
        text += "  | " + line + "\n";
    return text;
}

} // namespace testing_support
