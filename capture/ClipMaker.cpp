#include "ClipMaker.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Caption.h"
#include "Log.h"
#include "afx_exceptions.h"

namespace {

// The sound wait is sliced so that a Stop need not wait for the whole bound.
constexpr DWORD kWaitSliceMs = 50;

BOOL CALLBACK CloseThreadWindow(HWND hwnd, LPARAM) {
    // A message box with a Cancel button takes WM_CLOSE as Cancel.
    (void)PostMessageW(hwnd, WM_CLOSE, 0, 0); // a window already gone needs no closing
    return TRUE;
}

} // namespace

CClipMaker::~CClipMaker() {
    if (!Stop(kJoinMs))
        win::LogFailure(__FILE__, __LINE__, "CClipMaker", "worker still running at destruction", 0);
}

BOOL CClipMaker::Start(Job job) {
    if (m_pThread) {
        // The previous worker has posted its result, its last act; it is ending or gone.
        if (!m_pThread->Join(kJoinMs))
            return FALSE;
        m_pThread.reset();
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_result = Result();
        m_bResultReady = false;
        m_removal = Removal::none;
    }
    m_bCancel = false;
    m_job = std::move(job);
    m_pThread = AfxBeginOwnedThread(&CClipMaker::WorkerProc, this);
    m_bBusy = m_pThread != nullptr;
    return m_bBusy;
}

BOOL CClipMaker::TakeResult(Result& result) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_bResultReady)
        return FALSE;
    m_bResultReady = false; // a second TakeResult for the same run finds nothing
    result = std::move(m_result);
    m_result = Result();
    m_bBusy = false;
    return TRUE;
}

BOOL CClipMaker::ClaimRemoval() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_removal != Removal::wanted || Cancelled())
        return FALSE;
    m_removal = Removal::done;
    return TRUE;
}

void CClipMaker::CloseWorkerWindows() const {
    if (m_pThread)
        (void)EnumThreadWindows(m_pThread->m_nThreadID, &CloseThreadWindow, 0); // FALSE: none open
}

BOOL CClipMaker::Stop(DWORD timeoutMs) {
    if (!m_pThread)
        return TRUE;
    m_bCancel = true;
    const DWORD start = GetTickCount();
    for (;;) {
        // Closed on every round: a message box may open after the first look.
        CloseWorkerWindows();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            break;
        const DWORD slice = std::min<DWORD>(timeoutMs - elapsed, kWaitSliceMs);
        const HANDLE thread = *m_pThread;
        const DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, slice, QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0) {
            m_pThread.reset();
            m_bBusy = false;
            return TRUE;
        }
        if (wait == WAIT_OBJECT_0 + 1) {
            // Handles the messages sent to this thread (the worker's removeOldest, the owner
            // window's part of a message box) and nothing else.
            MSG msg;
            (void)PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        } else if (wait == WAIT_FAILED) {
            (void)LOG_IF_WIN32_FALSE(FALSE);
            Sleep(slice); // keeps the loop bounded in time rather than spinning
        }
    }
    if (!m_pThread->Join(0))
        return FALSE; // the object stays, and so does what the worker uses
    m_pThread.reset();
    m_bBusy = false;
    return TRUE;
}

UINT __cdecl CClipMaker::WorkerProc(LPVOID param) {
    static_cast<CClipMaker*>(param)->Run();
    return 0;
}

void CClipMaker::Run() {
    Result result;
    try {
        Make(result);
    } catch (const std::bad_alloc&) {
        // Only the result's own objects can be short here; whatever was made goes.
        AfxReportMemoryException();
        result = Result();
    }
    if (Cancelled())
        result = Result(); // nobody is left to take it
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_result = std::move(result);
        m_bResultReady = true;
    }
    if (m_job.done && !Cancelled())
        m_job.done();
}

void CClipMaker::Make(Result& result) {
    const CFrameStore* ring = m_job.pRing;
    if (!ring)
        return;

    // 1. Room for one more clip, or the question.
    const BOOL room = m_roomTest ? m_roomTest() : CFrameStore::HasRoomForClip(ring);
    if (!room) {
        const int answer = m_job.ask ? m_job.ask() : IDCANCEL;
        if (answer != IDOK || Cancelled())
            return; // no clip, and the sound capture, stopped after the press, stays stopped
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_removal = Removal::wanted;
        }
        if (m_job.removeOldest)
            m_job.removeOldest();
        std::lock_guard<std::mutex> hold(m_lock);
        result.bRemovedOldest = m_removal == Removal::done;
        m_removal = Removal::none; // a late handler finds nothing to do
    }
    if (Cancelled())
        return;

    // 2. The cut. It reports running out of memory itself.
    std::unique_ptr<CFrameArray> clip(new CFrameArray);
    if (!ring->CutInto(clip.get(), m_job.nGeneration))
        clip.reset();

    // 3. The caption, drawn once at the clip's size and applied to every frame.
    if (clip) {
        const CFrameImage* first = clip->GetAt(0);
        CCaption caption;
        const BOOL captioned = first &&
                               caption.Prepare(m_job.lfCaption, m_job.strCaption.c_str(),
                                               static_cast<int>(m_job.strCaption.size()), first->GetWidth(),
                                               first->GetHeight()) &&
                               caption.ApplyTo(*clip);
        if (!captioned) {
            // What the caption could not have is memory, a DC or a font: the clip goes, and the
            // sound capture is left as the press stopped it.
            clip.reset();
            AfxReportMemoryException();
            return;
        }
    }
    if (Cancelled())
        return;

    // 4. The sound.
    result.pClip = std::move(clip);
    if (m_job.pSound && !TakeSound(result))
        result.pClip.reset();
}

BOOL CClipMaker::TakeSound(Result& result) {
    IClipSound& sound = *m_job.pSound;
    bool ended = false;
    const DWORD start = GetTickCount();
    for (;;) {
        if (Cancelled())
            return TRUE; // the dialog is going: the capture is not touched again
        const DWORD elapsed = GetTickCount() - start;
        const DWORD left = elapsed < m_job.dwSoundWaitMs ? m_job.dwSoundWaitMs - elapsed : 0;
        if (sound.WaitForEnd(std::min(left, kWaitSliceMs))) {
            ended = true;
            break;
        }
        if (left == 0)
            break;
    }
    if (!ended)
        win::LogFailure(__FILE__, __LINE__, "sound capture", "did not end within (ms)", m_job.dwSoundWaitMs);

    BOOL made = TRUE;
    if (result.pClip) {
        try {
            std::unique_ptr<SoundBlock> block(new SoundBlock);
            if (ended) {
                sound.TakeRingInto(*block);
            } else {
                // The thread may still write the ring: silence of the same length instead.
                const DWORD size = sound.GetRingSize();
                if (size > 0) {
                    block->SetSize(static_cast<int>(size));
                    std::memset(block->GetData(), 0, size);
                }
            }
            result.pSound = std::move(block);
        } catch (const std::bad_alloc&) {
            AfxReportMemoryException();
            made = FALSE;
        }
    }
    if (ended)
        result.bSoundRestarted = sound.Start() != FALSE;
    return made;
}
