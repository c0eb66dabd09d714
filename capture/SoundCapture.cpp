#include "SoundCapture.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "Log.h"
#include "SoundBlock.h"
#include "SoundCaptureBuffer.h"
#include "afx_app.h"

CStopTimer::CStopTimer() {
    LARGE_INTEGER frequency = {};
    if (QueryPerformanceFrequency(&frequency))
        llFrequency = frequency.QuadPart;
}

void CStopTimer::Arm(DWORD delayMs) {
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    dwDelayMs = delayMs;
    llStart = llCurrent = now.QuadPart;
}

bool CStopTimer::HasElapsed() {
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    llCurrent = now.QuadPart;
    // Without a counter there is no way to measure the delay; stopping at once at least ends it.
    if (llFrequency <= 0)
        return true;
    const LONGLONG elapsedMs = (llCurrent - llStart) * 1000 / llFrequency;
    return elapsedMs >= static_cast<LONGLONG>(dwDelayMs);
}

CSoundCapture::CSoundCapture(CaptureFactory create)
    : m_pfnCreate(create ? create : &DirectSoundCaptureCreate) {}

CSoundCapture::~CSoundCapture() {
    RequestStop(StopNow);
    m_pThread.reset();
    m_pBuffer.reset();
    m_pRing.reset();
}

BOOL CSoundCapture::Fail(const char* message) {
    (void)AfxMessageBox(message, MB_OK); // a box with only OK has no answer to look at
    return FALSE;
}

BOOL CSoundCapture::Setup(const SoundDeviceEntry& entry, int pre, int post) {
    RequestStop(StopNow);
    m_pBuffer.reset(); // its destructor stops the capture buffer
    m_pRing.reset();
    m_dwRingSize = 0;
    {
        std::lock_guard<CCriticalSection> hold(m_lock);
        m_dwWritePos = 0;
    }

    m_pBuffer.reset(new (std::nothrow) CSoundCaptureBuffer);
    if (!m_pBuffer)
        return FALSE;
    CSoundCaptureBuffer& holder = *m_pBuffer;

    if (FAILED(m_pfnCreate(entry.bHasGuid ? &entry.guid : nullptr, &holder.m_pCapture, nullptr)) ||
        !holder.m_pCapture) {
        holder.m_pCapture.Reset();
        return Fail("Error1!");
    }

    // About 125 ms between notifications: 176400 / 8 = 22050, cut to whole sample frames.
    const WAVEFORMATEX& format = holder.m_format;
    DWORD dwBlock = std::max<DWORD>(format.nAvgBytesPerSec / 8, 1024);
    dwBlock -= dwBlock % format.nBlockAlign;
    // In 64 bits, and refused here when the buffer would be empty or would not fit its 32-bit size:
    // the device might otherwise take a size that wrapped round.
    const long long seconds = static_cast<long long>(pre) + post;
    const unsigned long long count =
        seconds > 0 ? static_cast<unsigned long long>(seconds) * format.nAvgBytesPerSec / dwBlock : 0;
    if (count == 0 || count * dwBlock > MAXDWORD)
        return Fail("Error2!");
    holder.m_dwBlockSize = dwBlock;
    holder.m_nNotifications = static_cast<int>(count);
    holder.m_dwBufferSize = static_cast<DWORD>(count * dwBlock);
    try {
        holder.m_notifications.assign(static_cast<size_t>(count), DSBPOSITIONNOTIFY{});
    } catch (const std::bad_alloc&) {
        m_pBuffer.reset();
        return FALSE;
    }

    DSCBUFFERDESC desc = {};
    // Without the effects fields: the description every DirectSound version takes. Its size is
    // that of the structure on this width (24 bytes on x64), which Wine checks to the byte.
    desc.dwSize = sizeof(DSCBUFFERDESC1);
    desc.dwFlags = 0;
    desc.dwBufferBytes = holder.m_dwBufferSize;
    desc.dwReserved = 0;
    desc.lpwfxFormat = &holder.m_format;
    if (FAILED(holder.m_pCapture->CreateCaptureBuffer(&desc, &holder.m_pBuffer, nullptr)) ||
        !holder.m_pBuffer) {
        holder.m_pBuffer.Reset();
        return Fail("Error2!");
    }

    holder.m_dwReadCursor = 0;
    // By its IID: the platform headers give IDirectSoundNotify no __uuidof, which ComPtr::As needs.
    if (FAILED(holder.m_pBuffer->QueryInterface(IID_IDirectSoundNotify,
                                                reinterpret_cast<void**>(holder.m_pNotify.GetAddressOf()))) ||
        !holder.m_pNotify) {
        holder.m_pNotify.Reset();
        return Fail("Error3!");
    }

    for (DWORD i = 0; i < count; ++i) {
        holder.m_notifications[i].dwOffset = dwBlock * (i + 1) - 1;
        holder.m_notifications[i].hEventNotify = holder.m_event.get();
    }
    // Without an event nothing would ever wake the worker for a block: as good as no notifications.
    if (!holder.m_event || FAILED(holder.m_pNotify->SetNotificationPositions(static_cast<DWORD>(count),
                                                                             holder.m_notifications.data())))
        return Fail("Error4!");

    m_pRing.reset(new (std::nothrow) BYTE[holder.m_dwBufferSize]);
    if (!m_pRing) {
        // A capture buffer without its ring would only hold memory that is already short.
        m_pBuffer.reset();
        return FALSE;
    }
    m_dwRingSize = holder.m_dwBufferSize;
    m_nPre = pre;
    m_nPost = post;
    return TRUE;
}

BOOL CSoundCapture::Start() {
    // Two workers would copy into one ring, and a worker whose handle was dropped could never be
    // stopped or waited for: a running one is stopped first.
    RequestStop(StopNow);
    m_pThread.reset();
    {
        std::lock_guard<CCriticalSection> hold(m_lock);
        m_nState = Running;
        // The newest byte of the ring stands just before the read cursor (at 0 after Setup). A
        // worker that ends before its first copy (a capture press within the first second) leaves
        // the ring rotated there, not at offset 0, which would put the newest sound in the middle.
        m_dwWritePos = m_pBuffer ? m_pBuffer->m_dwReadCursor : 0;
    }
    if (m_wake)
        (void)LOG_IF_WIN32_FALSE(ResetEvent(m_wake.get())); // a stale wake costs one 2 ms loop only
    m_pThread = AfxBeginOwnedThread(&CSoundCapture::WorkerProc, this);
    return m_pThread ? TRUE : FALSE;
}

void CSoundCapture::RequestStop(int state) {
    if (state == StopNow) {
        if (!m_pThread || m_pThread->Join(0))
            return; // no worker, or it has ended: nothing to stop
        {
            std::lock_guard<CCriticalSection> hold(m_lock);
            m_nState = StopNow;
        }
        if (m_wake)
            (void)LOG_IF_WIN32_FALSE(
                SetEvent(m_wake.get())); // without it the worker sees it within kBlockWaitMs
        // A worker that does not end in time is stuck inside DirectSound; it is forgotten (see
        // Threading in the header).
        if (!m_pThread->Join(kStopWaitMs))
            win::LogFailure(__FILE__, __LINE__, "sound capture worker", "did not end; wait", kStopWaitMs);
        m_pThread.reset();
    } else if (state == StopAfterDelay) {
        std::lock_guard<CCriticalSection> hold(m_lock);
        m_stopTimer.Arm(static_cast<DWORD>(std::max(m_nPost, 0)) * 1000);
        m_nState = StopAfterDelay;
    }
}

BOOL CSoundCapture::WaitForEnd(DWORD timeoutMs) const {
    return !m_pThread || m_pThread->Join(timeoutMs);
}

DWORD CSoundCapture::GetWritePos() const {
    std::lock_guard<CCriticalSection> hold(m_lock);
    return m_dwWritePos;
}

void CSoundCapture::TakeRingInto(SoundBlock& block) const {
    block.TakeRing(m_pRing.get(), static_cast<int>(m_dwRingSize), static_cast<int>(GetWritePos()));
}

const WAVEFORMATEX* CSoundCapture::GetWaveFormat() const {
    return m_pBuffer ? &m_pBuffer->m_format : nullptr;
}

UINT __cdecl CSoundCapture::WorkerProc(LPVOID param) {
    static_cast<CSoundCapture*>(param)->Work();
    return 0;
}

void CSoundCapture::Work() {
    // Setup and destruction join this thread before they touch the holder, so it stays put.
    CSoundCaptureBuffer* holder = m_pBuffer.get();
    // Only a buffer whose set-up went through to the ring is worth running.
    if (holder && holder->IsComplete() && m_pRing)
        (void)LOG_IF_FAILED(holder->m_pBuffer->Start(DSCBSTART_LOOPING)); // then nothing is copied

    HANDLE handles[2] = {};
    DWORD count = 0;
    const bool hasBlockEvent = holder && holder->m_event;
    if (hasBlockEvent)
        handles[count++] = holder->m_event.get();
    if (m_wake)
        handles[count++] = m_wake.get();

    for (;;) {
        // Bounded, and without the lock: a request never waits for a block end that may not come.
        const DWORD woken = MsgWaitForMultipleObjects(count, handles, FALSE, kBlockWaitMs, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0 + count) {
            // Nothing is meant for this thread's queue; what arrives anyway is dropped, or every
            // later wait would return at once for it.
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            }
        }

        int state = Running;
        bool delayOver = false;
        {
            std::lock_guard<CCriticalSection> hold(m_lock);
            if (hasBlockEvent && woken == WAIT_OBJECT_0)
                CopyCaptured();
            state = m_nState;
            if (state == StopAfterDelay)
                delayOver = m_stopTimer.HasElapsed();
        }
        if (state == StopNow)
            return; // the capture buffer runs on until the holder goes
        if (delayOver) {
            if (holder)
                holder->StopCapture();
            return;
        }
        Sleep(2);
    }
}

void CSoundCapture::CopyCaptured() {
    // A wake-up that copies nothing leaves the write position where the last copy put it, just
    // after the newest byte in the ring. Setting it to 0 instead, as a plain reading of the layout
    // suggests, would rotate a block taken right after such a wake-up at the wrong place.
    CSoundCaptureBuffer& holder = *m_pBuffer;
    const DWORD dwSize = holder.m_dwBufferSize;
    if (!holder.m_pBuffer || !m_pRing || dwSize == 0 || m_dwRingSize != dwSize || holder.m_dwBlockSize == 0)
        return;
    DWORD dwRead = 0;
    if (FAILED(holder.m_pBuffer->GetCurrentPosition(nullptr, &dwRead)) || dwRead >= dwSize)
        return;
    DWORD& cursor = holder.m_dwReadCursor;
    DWORD available = dwRead >= cursor ? dwRead - cursor : dwRead + dwSize - cursor;
    available -= available % holder.m_dwBlockSize;
    if (available == 0)
        return;

    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    if (FAILED(holder.m_pBuffer->Lock(cursor, available, &p1, &n1, &p2, &n2, 0)))
        return;
    // The ring mirrors the buffer offset for offset. The lengths come from the platform, so each
    // copy is still held to the ring's end.
    if (p1 && n1) {
        const DWORD first = std::min(n1, dwSize - cursor);
        std::memcpy(m_pRing.get() + cursor, p1, first);
        cursor = (cursor + first) % dwSize;
    }
    if (p2 && n2) {
        const DWORD second = std::min(n2, dwSize - cursor);
        std::memcpy(m_pRing.get() + cursor, p2, second);
        cursor = (cursor + second) % dwSize;
    }
    (void)LOG_IF_FAILED(holder.m_pBuffer->Unlock(p1, n1, p2, n2)); // the bytes are in the ring already
    m_dwWritePos = cursor;
}
