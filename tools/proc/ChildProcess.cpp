#include "ChildProcess.h"

#include <chrono>

namespace proc {

namespace {

constexpr DWORD kLeaveTimeoutMs = 5000;

std::string ErrorText(const char* what, DWORD error) {
    return std::string(what) + " failed with error " + std::to_string(error);
}

} // namespace

ChildProcess::~ChildProcess() {
    CloseInput();
    if (IsRunning() && !WaitForExit(kLeaveTimeoutMs))
        Kill();
    if (m_reader.joinable())
        m_reader.join(); // the child is gone, so its end of the output pipe is closed
}

bool ChildProcess::Start(const std::wstring& exe, const Options& options) {
    if (Started()) {
        m_error = "a child was already started";
        return false;
    }
    m_error.clear();
    win::UniqueHandle childIn, childOut;
    if (options.pipes) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        if (!CreatePipe(childIn.put(), m_toChild.put(), &inherit, 0) ||
            !CreatePipe(m_fromChild.put(), childOut.put(), &inherit, 0)) {
            m_error = ErrorText("CreatePipe", GetLastError());
            return false;
        }
        // Only the child's ends are inherited; ours must not keep its output open in later children.
        if (!SetHandleInformation(m_toChild.get(), HANDLE_FLAG_INHERIT, 0) ||
            !SetHandleInformation(m_fromChild.get(), HANDLE_FLAG_INHERIT, 0)) {
            m_error = ErrorText("SetHandleInformation", GetLastError());
            return false;
        }
    }

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (options.pipes) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = childIn.get();
        si.hStdOutput = childOut.get();
        si.hStdError = childOut.get();
    }
    std::wstring cmdline = L"\"" + exe + L"\"";
    if (!options.args.empty())
        cmdline += L" " + options.args;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmdline[0], nullptr, nullptr, options.pipes ? TRUE : FALSE,
                        options.pipes ? CREATE_NO_WINDOW : 0, nullptr,
                        options.folder.empty() ? nullptr : options.folder.c_str(), &si, &pi)) {
        const DWORD error = GetLastError();
        m_error =
            "cannot start " + std::string(exe.begin(), exe.end()) + ": " + ErrorText("CreateProcess", error);
        m_toChild.reset();
        m_fromChild.reset();
        return false;
    }
    win::UniqueHandle thread(pi.hThread);
    m_process.reset(pi.hProcess);
    m_id = pi.dwProcessId;
    if (options.pipes) {
        // Our copies of the child's ends go now, so its output ends when the child does.
        childIn.reset();
        childOut.reset();
        m_reader = std::thread([this] { ReadOutput(); });
    }
    return true;
}

bool ChildProcess::IsRunning() const {
    return m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

bool ChildProcess::WaitForExit(DWORD timeoutMs) {
    return !m_process || WaitForSingleObject(m_process.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (!m_process || !GetExitCodeProcess(m_process.get(), &code))
        return STILL_ACTIVE;
    return code;
}

void ChildProcess::Kill(UINT exitCode) {
    if (!IsRunning())
        return;
    (void)TerminateProcess(m_process.get(), exitCode); // fails only for a child that just ended
    (void)WaitForSingleObject(m_process.get(), kLeaveTimeoutMs);
}

bool ChildProcess::WriteLine(const std::string& line) {
    if (!m_toChild)
        return false;
    const std::string text = line + "\n";
    DWORD written = 0;
    return WriteFile(m_toChild.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool ChildProcess::ReadLine(std::string* line, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_lineArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !m_lines.empty() || m_outputEnded; });
    if (m_lines.empty())
        return false;
    *line = std::move(m_lines.front());
    m_lines.pop_front();
    return true;
}

bool ChildProcess::OutputEnded() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outputEnded && m_lines.empty();
}

void ChildProcess::ReadOutput() {
    std::string pending;
    try {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(m_fromChild.get(), buffer, sizeof buffer, &got, nullptr) && got) {
            pending.append(buffer, got);
            size_t eol;
            while ((eol = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r') // a child's stdout in text mode
                    line.pop_back();
                std::lock_guard<std::mutex> lock(m_mutex);
                m_lines.push_back(std::move(line));
                m_lineArrived.notify_all();
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!pending.empty())
            m_lines.push_back(std::move(pending));
    } catch (...) {
        // Out of memory: the output counts as ended, so every later read fails.
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputEnded = true;
    m_lineArrived.notify_all();
}

} // namespace proc
