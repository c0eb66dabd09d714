// CWinThread and AfxBeginThread: worker threads the way the program starts them.
//
// Threading: a thread runs in one of two modes, chosen by m_bAutoDelete before it starts.
//  - Auto-delete (m_bAutoDelete TRUE, the default): the object and its handle die with the thread.
//    A short thread may be gone before AfxBeginThread returns, so the returned pointer is good for
//    a null test only. Nobody waits on such a thread or reads its exit code.
//  - Owned: AfxBeginThread with CREATE_SUSPENDED, m_bAutoDelete = FALSE, then ResumeThread (or
//    AfxBeginOwnedThread, which does exactly that). The caller owns the object: it joins the thread
//    with a bounded wait (Join), may read the exit code through the handle, and deletes the object.
//    The handle stays open, and so keeps naming this thread, until the object is deleted.
// The new thread reads the procedure, its parameter and m_bAutoDelete once, as it starts, and never
// touches the object again unless it deletes it itself. An owner may therefore delete its object
// even when a join timed out: the thread runs on without it (whatever the procedure uses must then
// outlive it).
// An exception that leaves the procedure is reported like one that leaves a window procedure (the
// out-of-memory report, or the unexpected-error report) and ends the thread with the exit code
// kThreadExitOutOfMemory or kThreadExitException.
#pragma once

#include <windows.h>

#include <memory>

#include "UniqueAny.h"

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

// Exit codes of a thread whose procedure let an exception out.
constexpr DWORD kThreadExitOutOfMemory = ERROR_NOT_ENOUGH_MEMORY;
constexpr DWORD kThreadExitException = 574; // ERROR_UNHANDLED_EXCEPTION, missing from the mingw headers

class CWinThread {
public:
    CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}
    // Closes the handle. A thread still running is not stopped; it no longer uses this object.
    virtual ~CWinThread() = default;
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // The previous suspend count, or (DWORD)-1 on failure.
    DWORD ResumeThread() { return ::ResumeThread(m_hThread.get()); }
    // Owned threads only: waits at most timeoutMs for the thread to end; TRUE when it has ended.
    BOOL Join(DWORD timeoutMs) const;

    operator HANDLE() const { return m_hThread.get(); }

    win::UniqueHandle m_hThread;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;

private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, LPSECURITY_ATTRIBUTES);
    static unsigned __stdcall Start(void* self) noexcept;

    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;
};

// Starts proc(param) on a new thread, resumed unless createFlags holds CREATE_SUSPENDED.
// nullptr if the thread cannot be made.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0,
                           LPSECURITY_ATTRIBUTES security = nullptr);

// The owned mode in one call: created suspended, m_bAutoDelete = FALSE, resumed. The caller joins
// the thread (Join) before it destroys what proc uses. nullptr if the thread cannot be made.
std::unique_ptr<CWinThread> AfxBeginOwnedThread(AFX_THREADPROC proc, LPVOID param,
                                                int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0);
