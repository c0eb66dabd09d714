#include "AMThread.h"

#include <objbase.h>

#include <utility>

#include "Log.h"

namespace {

typedef HRESULT(WINAPI* PFN_CoInitializeEx)(LPVOID, DWORD);
typedef void(WINAPI* PFN_CoUninitialize)();

// GetProcAddress gives a generic function pointer; going through void(*)() is the sanctioned way
// to reach the real signature without a cast-function-type warning.
template <typename T> T ProcAs(FARPROC proc) {
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(proc));
}

} // namespace

CAMThread::CAMThread()
    : m_hEventSend(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_hEventComplete(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CAMThread::~CAMThread() {
    Close(); // the worker uses the events until it ends
}

DWORD WINAPI CAMThread::InitialThreadProc(LPVOID pv) {
    // COM for the worker without making the framework pull ole32 into processes that never
    // loaded it: the module is found only if the host already has it.
    HMODULE hOle = GetModuleHandleW(L"ole32.dll");
    PFN_CoInitializeEx pInit =
        hOle ? ProcAs<PFN_CoInitializeEx>(GetProcAddress(hOle, "CoInitializeEx")) : nullptr;
    const HRESULT hrCom = pInit ? pInit(nullptr, COINIT_DISABLE_OLE1DDE) : E_FAIL;

    DWORD dwResult = 1;
    try {
        dwResult = static_cast<CAMThread*>(pv)->ThreadProc();
    } catch (...) {
        dwResult = 1; // nothing may leave a thread routine
    }

    if (SUCCEEDED(hrCom)) {
        PFN_CoUninitialize pUninit = ProcAs<PFN_CoUninitialize>(GetProcAddress(hOle, "CoUninitialize"));
        if (pUninit)
            pUninit();
    }
    return dwResult;
}

BOOL CAMThread::Create() {
    CAutoLock lock(&m_AccessLock);
    if (ThreadExists())
        return FALSE;
    DWORD threadId = 0;
    m_hThread.reset(CreateThread(nullptr, 0, InitialThreadProc, this, 0, &threadId));
    return m_hThread.is_valid();
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
    CAutoLock lock(&m_AccessLock);
    if (!ThreadExists())
        return static_cast<DWORD>(E_FAIL);
    m_dwParam = dwParam;
    LOG_IF_WIN32_FALSE(SetEvent(m_hEventSend.get()));
    // The reply comes first in the list, so a worker that answers and then ends (CMD_EXIT) is
    // still read as an answer; only a worker that ended without one makes the thread handle fire.
    HANDLE waits[2] = {m_hEventComplete.get(), m_hThread.get()};
    const DWORD dwWait = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (dwWait != WAIT_OBJECT_0) {
        LOG_IF_WIN32_FALSE(ResetEvent(m_hEventSend.get()));
        return static_cast<DWORD>(E_FAIL);
    }
    return m_dwReturnVal;
}

void CAMThread::Close() {
    // Taken under the access lock, so no CallWorker is waiting on the handle; the join itself runs
    // outside it.
    win::UniqueHandle thread;
    {
        CAutoLock lock(&m_AccessLock);
        thread = std::move(m_hThread);
    }
    if (thread)
        WaitForSingleObject(thread.get(), INFINITE);
}

BOOL CAMThread::ThreadExists() const {
    return m_hThread.is_valid();
}

DWORD CAMThread::GetRequest() {
    WaitForSingleObject(m_hEventSend.get(), INFINITE);
    return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* pParam) {
    if (WaitForSingleObject(m_hEventSend.get(), 0) != WAIT_OBJECT_0)
        return FALSE;
    if (pParam)
        *pParam = m_dwParam;
    return TRUE;
}

void CAMThread::Reply(DWORD dw) {
    m_dwReturnVal = dw;
    // Reset before signalling: the caller may hand over its next command the moment it wakes.
    LOG_IF_WIN32_FALSE(ResetEvent(m_hEventSend.get()));
    LOG_IF_WIN32_FALSE(SetEvent(m_hEventComplete.get()));
}
