#include "afx_thread.h"

#include <process.h>

#include <new>

CWinThread::~CWinThread() {
    if (m_hThread)
        CloseHandle(m_hThread);
}

unsigned __stdcall CWinThread::Start(void* self) {
    auto* thread = static_cast<CWinThread*>(self);
    const UINT code = thread->m_pfnThreadProc(thread->m_pThreadParams);
    if (thread->m_bAutoDelete)
        delete thread;
    return code;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags,
                           LPSECURITY_ATTRIBUTES security) {
    auto* thread = new (std::nothrow) CWinThread(proc, param);
    if (!thread)
        return nullptr;
    unsigned id = 0;
    const uintptr_t h =
        _beginthreadex(security, stackSize, &CWinThread::Start, thread, CREATE_SUSPENDED, &id);
    if (!h) {
        delete thread;
        return nullptr;
    }
    thread->m_hThread = reinterpret_cast<HANDLE>(h);
    thread->m_nThreadID = id;
    // A failed priority change leaves the thread at normal priority, which is what every caller asks for.
    (void)SetThreadPriority(thread->m_hThread, priority);
    if (!(createFlags & CREATE_SUSPENDED))
        thread->ResumeThread();
    return thread;
}
