// DeviceClientProcess: device_client.exe (tests/system), a video application in its own process
// that opens a capture device by name, sets a size, streams, and reports every frame as a line
// (its header comment gives the command line and the lines). A test starts it through
// ChildProcess, reads its report and tells it to stop.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "child_process.h"

namespace testing_support {

// One "frame <index> <bytes> <kind> [<number>] level <level>" line.
struct ClientFrame {
    long index = -1;
    long bytes = 0;
    std::string kind;
    long long number = -1; // -1 when none could be read
    int level = -1;        // brightness below the test camera's code band, 0..255
};

class DeviceClientProcess {
public:
    // Generous: a Wine process start alone may take seconds on a busy machine.
    static constexpr DWORD kLineTimeoutMs = 20000;

    // Starts the client with this command line (device_client.cpp lists the options); a client that
    // cannot start fails the test.
    explicit DeviceClientProcess(const std::wstring& args);

    // Reads lines until one begins with prefix and returns it, or "" when none came within
    // timeoutMs or the client's output ended first. Frame lines read meanwhile are kept.
    std::string WaitForLine(const std::string& prefix, DWORD timeoutMs = kLineTimeoutMs);
    // Reads lines until a frame that satisfies pred arrives; false on time-out or end of output.
    bool WaitForFrame(const std::function<bool(const ClientFrame&)>& pred, DWORD timeoutMs = kLineTimeoutMs);
    // Reads until the client's output ends; false when it has not ended within timeoutMs.
    bool ReadToEnd(DWORD timeoutMs = kLineTimeoutMs);
    // Asks the client to stop and waits until it has reported so and left with exit code 0.
    void Stop();

    // Every frame line read so far, and every line.
    const std::vector<ClientFrame>& Frames() const { return m_frames; }
    const std::vector<std::string>& Lines() const { return m_lines; }
    // All lines read so far, for a failure message.
    std::string Transcript() const;
    ChildProcess& Process() { return m_process; }

private:
    // One more line into the record; false on time-out or end of output.
    bool ReadOne(DWORD timeoutMs, std::string* line);

    ChildProcess m_process;
    std::vector<std::string> m_lines;
    std::vector<ClientFrame> m_frames;
};

} // namespace testing_support
