// PeerProcess: drives channel_peer.exe, the channel tests' line-command peer, from a test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace testing_support {

namespace peer_detail {
struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;
constexpr DWORD kReplyTimeoutMs = 10000;
} // namespace peer_detail

// channel_peer.exe (tests/channel) from beside the test executable, fed through a pipe: a second
// process that opens, locks, reads and writes the frame channel on command. Ends with its input, or
// is killed.
class PeerProcess {
public:
    PeerProcess() {
        char path[MAX_PATH];
        const DWORD len = GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string exe(path, len);
        exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "channel_peer.exe";

        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr, toChild = nullptr, fromChild = nullptr;
        if (!CreatePipe(&childIn, &toChild, &inherit, 0) || !CreatePipe(&fromChild, &childOut, &inherit, 0)) {
            ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
            return;
        }
        peer_detail::UniqueHandle in(childIn), out(childOut);
        m_toChild.reset(toChild);
        m_fromChild.reset(fromChild);
        SetHandleInformation(toChild, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(fromChild, HANDLE_FLAG_INHERIT, 0);

        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = childIn;
        si.hStdOutput = childOut;
        si.hStdError = childOut;
        PROCESS_INFORMATION pi = {};
        std::string cmdline = "\"" + exe + "\"";
        if (!CreateProcessA(exe.c_str(), &cmdline[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                            nullptr, &si, &pi)) {
            ADD_FAILURE() << "cannot start " << exe << ": " << GetLastError();
            return;
        }
        CloseHandle(pi.hThread);
        m_process.reset(pi.hProcess);
    }

    ~PeerProcess() {
        m_toChild.reset(); // end of input: the peer leaves
        if (m_process && WaitForSingleObject(m_process.get(), 5000) != WAIT_OBJECT_0)
            Kill();
    }

    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Sends one command and returns the answer line ("ok", "ok <n>", "fail <error>"); "no answer"
    // when the peer died or stayed silent for timeoutMs (10 s unless given), so no test can hang on it.
    std::string Do(const std::string& command, DWORD timeoutMs = peer_detail::kReplyTimeoutMs) {
        const std::string line = command + "\n";
        DWORD written = 0;
        if (!m_toChild ||
            !WriteFile(m_toChild.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
            return "no answer";
        const DWORD start = GetTickCount();
        for (;;) {
            const size_t eol = m_pending.find('\n');
            if (eol != std::string::npos) {
                std::string reply = m_pending.substr(0, eol);
                m_pending.erase(0, eol + 1);
                if (!reply.empty() && reply.back() == '\r') // the peer's stdout is in text mode
                    reply.pop_back();
                return reply;
            }
            DWORD available = 0;
            if (!PeekNamedPipe(m_fromChild.get(), nullptr, 0, nullptr, &available, nullptr))
                return "no answer";
            if (available == 0) {
                if (GetTickCount() - start > timeoutMs)
                    return "no answer";
                Sleep(1);
                continue;
            }
            char buf[256];
            DWORD got = 0;
            if (!ReadFile(m_fromChild.get(), buf, std::min<DWORD>(available, sizeof buf), &got, nullptr))
                return "no answer";
            m_pending.append(buf, got);
        }
    }

    // The number in an "ok <n>" answer; a failed command fails the test and gives -1.
    long long Value(const std::string& command) {
        const std::string reply = Do(command);
        if (reply.rfind("ok ", 0) != 0) {
            ADD_FAILURE() << "\"" << command << "\" answered \"" << reply << "\"";
            return -1;
        }
        return std::strtoll(reply.c_str() + 3, nullptr, 10);
    }

    // Ends the peer as a crash would: whatever it holds is left behind, the mutex abandoned.
    void Kill() {
        if (!m_process)
            return;
        TerminateProcess(m_process.get(), 1);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_process.get(), 5000));
        m_process.reset();
    }

    // Waits for the peer to leave after "exit".
    void Exit() {
        EXPECT_EQ("ok", Do("exit"));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_process.get(), 5000));
        m_process.reset();
    }

private:
    peer_detail::UniqueHandle m_process, m_toChild, m_fromChild;
    std::string m_pending;
};

} // namespace testing_support
