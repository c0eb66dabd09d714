#include "afx_thread.h"

#include <process.h>

#include <new>

#include "Log.h"
#include "afx_exceptions.h"

BOOL CWinThread::Join(DWORD timeoutMs) const {
    return m_hThread && WaitForSingleObject(m_hThread.get(), timeoutMs) == WAIT_OBJECT_0;
}

unsigned __stdcall CWinThread::Start(void* self) noexcept {
    auto* thread = static_cast<CWinThread*>(self);
    // Everything the thread needs is read now. After the procedure has started, an owner may delete
    // the object at any moment (once it has joined, or after a join timed out), so reading
    // m_bAutoDelete after the procedure, as a plain implementation would, reads freed memory.
    const AFX_THREADPROC proc = thread->m_pfnThreadProc;
    const LPVOID param = thread->m_pThreadParams;
    const bool autoDelete = thread->m_bAutoDelete != FALSE;
    if (!autoDelete)
        thread = nullptr;

    unsigned code = 0;
    switch (AfxCallGuarded([&] { code = proc(param); })) {
    case AfxCaught::nothing:
        break;
    case AfxCaught::outOfMemory:
        code = kThreadExitOutOfMemory;
        break;
    case AfxCaught::other:
        code = kThreadExitException;
        break;
    }
    delete thread; // the auto-delete mode's object and handle end with the thread
    return code;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags,
                           LPSECURITY_ATTRIBUTES security) {
    auto* thread = new (std::nothrow) CWinThread(proc, param);
    if (!thread)
        return nullptr;
    unsigned id = 0;
    // Always created suspended, so that the handle and id are stored before the thread can run.
    const uintptr_t h =
        _beginthreadex(security, stackSize, &CWinThread::Start, thread, CREATE_SUSPENDED, &id);
    if (!h) {
        delete thread;
        return nullptr;
    }
    thread->m_hThread.reset(reinterpret_cast<HANDLE>(h));
    thread->m_nThreadID = id;
    // A failed priority change leaves the thread at normal priority, which is what every caller asks for.
    (void)LOG_IF_WIN32_FALSE(SetThreadPriority(thread->m_hThread.get(), priority));
    if (createFlags & CREATE_SUSPENDED)
        return thread;
    // Once resumed, an auto-delete thread may end and delete itself at any moment: nothing below may
    // touch the object, and the caller gets a pointer to test for null only.
    if (::ResumeThread(thread->m_hThread.get()) == static_cast<DWORD>(-1)) {
        // A thread that could not be resumed never runs, so it can never reach the freed object.
        delete thread;
        return nullptr;
    }
    return thread;
}

std::unique_ptr<CWinThread> AfxBeginOwnedThread(AFX_THREADPROC proc, LPVOID param, int priority,
                                                UINT stackSize) {
    std::unique_ptr<CWinThread> thread(AfxBeginThread(proc, param, priority, stackSize, CREATE_SUSPENDED));
    if (!thread)
        return nullptr;
    thread->m_bAutoDelete = FALSE;
    if (thread->ResumeThread() == static_cast<DWORD>(-1))
        return nullptr; // never resumed, so it never runs without its object
    return thread;
}
