// CAMThread: a worker thread driven by commands.
//
// Threading: a caller hands the worker one command at a time with CallWorker and waits for its
// reply; the access lock serialises callers. The worker picks a command up with GetRequest (waits)
// or CheckRequest (polls) and answers it with Reply. The request event is manual-reset so a
// command stays visible until it is answered; the reply event is auto-reset so each reply wakes
// exactly one waiting caller. The worker lock is free for derived classes that need one.
#pragma once

#include <windows.h>

#include "CritSec.h"
#include "UniqueAny.h"

class CAMThread {
public:
    CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    virtual DWORD ThreadProc() = 0;
    virtual ~CAMThread();

    // Starts the worker unless one exists; TRUE when a thread was made.
    BOOL Create();
    // Hands cmd to the worker and waits for its reply; E_FAIL when there is no worker, or when it
    // ended without answering (nobody could ever answer then).
    DWORD CallWorker(DWORD dwParam);
    // Waits for the worker's thread to end and forgets it.
    void Close();
    BOOL ThreadExists() const;

    // Worker side.
    DWORD GetRequest();
    BOOL CheckRequest(DWORD* pParam);
    void Reply(DWORD dw);

    HANDLE GetRequestHandle() const { return m_hEventSend.get(); }
    DWORD GetRequestParam() const { return m_dwParam; }

    CCritSec m_AccessLock;
    CCritSec m_WorkerLock;

private:
    static DWORD WINAPI InitialThreadProc(LPVOID pv);

    win::UniqueHandle m_hEventSend;     // manual reset: a request is pending
    win::UniqueHandle m_hEventComplete; // auto reset: the worker answered
    volatile DWORD m_dwParam = 0;
    volatile DWORD m_dwReturnVal = 0;
    // Set by Create and taken by Close, both under the access lock; ThreadExists reads it from
    // either side of a command without the lock.
    win::UniqueHandle m_hThread;
};
