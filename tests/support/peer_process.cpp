#include "peer_process.h"

#include <cstdlib>

#include "test_paths.h"

namespace testing_support {

PeerProcess::PeerProcess() {
    ChildProcess::Options options;
    options.pipes = true;
    if (!m_process.Start(BinDir() + L"channel_peer.exe", options))
        ADD_FAILURE() << m_process.Error();
}

std::string PeerProcess::Do(const std::string& command, DWORD timeoutMs) {
    std::string reply;
    if (!m_process.WriteLine(command) || !m_process.ReadLine(&reply, timeoutMs))
        return "no answer";
    return reply;
}

long long PeerProcess::Value(const std::string& command) {
    const std::string reply = Do(command);
    if (reply.rfind("ok ", 0) != 0) {
        ADD_FAILURE() << "\"" << command << "\" answered \"" << reply << "\"";
        return -1;
    }
    return std::strtoll(reply.c_str() + 3, nullptr, 10);
}

void PeerProcess::Kill() {
    m_process.Kill();
    EXPECT_FALSE(m_process.IsRunning()) << "the peer outlived TerminateProcess";
}

void PeerProcess::Exit() {
    EXPECT_EQ("ok", Do("exit"));
    EXPECT_TRUE(m_process.WaitForExit(5000)) << "the peer did not leave";
}

} // namespace testing_support
