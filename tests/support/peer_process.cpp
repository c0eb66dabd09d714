#include "peer_process.h"

#include <cstdlib>
#include <sstream>

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

std::vector<WatchSighting> ParseWatch(const std::string& answer) {
    std::vector<WatchSighting> sightings;
    std::istringstream in(answer);
    std::string word;
    size_t count = 0;
    in >> word >> count;
    if (word != "ok") {
        ADD_FAILURE() << "the watch answered \"" << answer.substr(0, 80) << "\"";
        return sightings;
    }
    while (in >> word) {
        const size_t colon = word.find(':');
        if (colon == std::string::npos)
            break;
        WatchSighting sighting;
        sighting.ms = std::strtoll(word.c_str(), nullptr, 10) / 1000.0;
        for (size_t i = 0; i < sizeof sighting.bytes && colon + 2 + 2 * i < word.size(); ++i)
            sighting.bytes[i] = static_cast<std::uint8_t>(
                std::strtoul(word.substr(colon + 1 + 2 * i, 2).c_str(), nullptr, 16));
        sightings.push_back(sighting);
    }
    EXPECT_EQ(count, sightings.size()) << "the answer was cut short";
    return sightings;
}

} // namespace testing_support
