// PeerProcess: channel_peer.exe (tests/system), a second process that opens, locks, reads and
// writes the frame channel on command, driven line by line from a test through ChildProcess.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "child_process.h"

namespace testing_support {

class PeerProcess {
public:
    static constexpr DWORD kReplyTimeoutMs = 10000;

    // Starts the peer from beside the test executable; a peer that cannot start fails the test.
    PeerProcess();

    // Sends one command and returns the answer line ("ok", "ok <n>", "fail <error>"); "no answer"
    // when the peer died or stayed silent for timeoutMs, so no test can hang on it.
    std::string Do(const std::string& command, DWORD timeoutMs = kReplyTimeoutMs);
    // The number in an "ok <n>" answer; any other answer fails the test and gives -1.
    long long Value(const std::string& command);

    // Ends the peer as a crash would: whatever it holds is left behind, the mutex abandoned.
    void Kill();
    // Tells the peer to leave and waits until it has.
    void Exit();

    const ChildProcess& Process() const { return m_process; }

private:
    ChildProcess m_process;
};

// One frame channel_peer's watch saw: when (microseconds after the watch started, its own clock)
// and the first bytes of the pixel area.
struct WatchSighting {
    double ms = 0;
    std::uint8_t bytes[16] = {};
};

// The sightings in a "watch-stop" answer ("ok <n>", then " <us>:<hex bytes>" each); an answer cut
// short, or one that is not "ok", fails the test.
std::vector<WatchSighting> ParseWatch(const std::string& answer);

} // namespace testing_support
