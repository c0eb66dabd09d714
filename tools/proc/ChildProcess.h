// ChildProcess: the one way a test or a tool of ours starts another process (Zarvex.exe,
// channel_peer.exe, device_client.exe, the viewer, ...), waits for it, reads what it says and ends it.
//
// A child started with pipes gets its stdin and stdout (stderr too) from this object: the caller
// writes command lines and reads answer lines. Every read has a time limit, so a child that dies
// or hangs fails a test instead of stopping the run.
//
// Threading: one thread drives the object. A child with pipes has a reader thread, owned and
// joined by the object, that drains the child's output into a queue of lines as it comes, so a
// chatty child never blocks on a full pipe while its caller is busy elsewhere; m_mutex guards the
// queue and the end-of-output flag, m_lineArrived signals both.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "UniqueAny.h"

namespace proc {

class ChildProcess {
public:
    struct Options {
        std::wstring args;   // after the quoted program path
        std::wstring folder; // working folder; empty: the caller's own
        bool pipes = false;  // stdin and stdout through pipes (console programs)
    };

    ChildProcess() = default;
    // Ends the child if it still runs: its input is closed (a line-driven child leaves at the end of
    // its input), and a child that has not left after 5 s is killed.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts exe (a full path). False, with the reason in Error(), when it cannot be started or this
    // object already has a child.
    bool Start(const std::wstring& exe, const Options& options);
    bool Start(const std::wstring& exe) { return Start(exe, Options()); }

    bool Started() const { return m_process.is_valid(); }
    bool IsRunning() const;
    // Waits for the child to end; true when it has (or never started).
    bool WaitForExit(DWORD timeoutMs);
    // The exit code once it has ended; STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    // Ends the child as a crash would: whatever it holds is left behind (an owned mutex is
    // abandoned), and waits for it to be gone.
    void Kill(UINT exitCode = 1);

    DWORD Id() const { return m_id; }
    HANDLE Handle() const { return m_process.get(); }
    const std::string& Error() const { return m_error; }

    // One line to the child's input (the newline is added). False when the child has no input pipe
    // or its input is closed.
    bool WriteLine(const std::string& line);
    // Closes the child's input: it sees the end of its input.
    void CloseInput() { m_toChild.reset(); }
    // The next line of the child's output, without its line end. False when none came within
    // timeoutMs, or when the output ended (the child left) before one did.
    bool ReadLine(std::string* line, DWORD timeoutMs);
    // True when the child's output has ended and every line of it was read.
    bool OutputEnded();

private:
    void ReadOutput();

    win::UniqueHandle m_process;
    DWORD m_id = 0;
    win::UniqueHandle m_toChild, m_fromChild;
    std::string m_error;

    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_lineArrived;
    std::deque<std::string> m_lines;
    bool m_outputEnded = false;
};

} // namespace proc
