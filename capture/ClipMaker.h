// CClipMaker: turns a completed frame ring into one clip on a worker thread of its own: the room
// test, the memory question, the cut, the caption and the sound. The clip and its sound block go
// back to the dialog, which alone changes its clip and sound lists and its controls.
//
//     maker.Start(job);              // dialog thread, when the armed ring completes
//     ... job.done() posts a message to the dialog ...
//     CClipMaker::Result result;
//     if (maker.TakeResult(result))  // dialog thread: append result.pClip and result.pSound
//
// The steps, on the worker:
// 1. Room: twice the ring's bytes must be free (CFrameStore::HasRoomForClip). When they are not,
//    job.ask puts the memory question; only IDOK goes on, and then job.removeOldest has the
//    dialog remove its oldest clip and sound block before the cut, so that the room is really
//    freed. Any other answer ends the run with no clip, the sound capture left stopped.
// 2. The cut of the ring as it completed (a ring rebuilt since is not cut: no clip).
// 3. The caption, job.strCaption with job.lfCaption (CCaption), into every frame.
// 4. The sound, when there is a sound capture: the wait for its thread, bounded by
//    job.dwSoundWaitMs; then the block (only when a clip was made) and Start again. A thread that
//    does not end within the bound is not restarted (Start would wait for it once more, then run
//    a second thread into the same ring), and the clip gets silence of the ring's size, which
//    keeps clip i and sound block i together in the dialog's lists.
// Memory running out in the cut reports itself and makes no clip; the sound capture is started
// again. Memory running out while the clip is captioned: the standard report, no clip, and the
// sound capture is not started again by this run. While its sound block is made: the report and
// no clip either (a clip without its block would pair every later clip with the wrong sound), and
// the sound capture, which is sound, is started again.
//
// Threading:
// - The dialog thread calls Start, TakeResult, ClaimRemoval and Stop; one worker runs at a time.
// - The worker touches nothing of the dialog. What it needs from the dialog's thread goes through
//   the job's callbacks, which run on the worker: removeOldest (the dialog makes it a bounded
//   send, and its handler calls ClaimRemoval, so a send that timed out and is handled late
//   removes nothing), done (its last act; the dialog posts a message). The ring, the sound
//   capture and the callbacks' targets must stay until the worker is joined.
// - m_lock guards the result and the removal claim; the worker holds it for neither callback.
// - The worker is owned and joined with bounded waits: by Start before the next worker, by Stop
//   and by the destructor. Stop first asks it to end early and closes the message boxes on its
//   thread, and while it waits it handles messages sent to the calling thread, so a worker that
//   sends to the dialog (removeOldest, a message box owned by the dialog) is not left hanging.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "ClipSound.h"
#include "FrameArray.h"
#include "FrameStore.h"
#include "SoundBlock.h"
#include "afx_thread.h"

class CClipMaker {
public:
    struct Job {
        const CFrameStore* pRing = nullptr;
        // The ring's GetGeneration when it completed; kAnyGeneration cuts it as it stands.
        unsigned nGeneration = CFrameStore::kAnyGeneration;
        IClipSound* pSound = nullptr; // none: the clip gets no sound block
        DWORD dwSoundWaitMs = 0;      // the bound on the wait for the sound capture's thread
        LOGFONTA lfCaption = {};
        std::string strCaption;
        std::function<int()> ask;           // the memory question; IDOK removes the oldest clip
        std::function<void()> removeOldest; // has the dialog remove its clip 0 and sound block 0
        std::function<void()> done;         // a result waits for TakeResult
    };

    struct Result {
        std::unique_ptr<CFrameArray> pClip; // none: no clip for this press
        std::unique_ptr<SoundBlock> pSound; // none: no sound block
        bool bRemovedOldest = false;        // the dialog removed its oldest clip for this one
        bool bSoundRestarted = false;       // the sound capture runs again
    };

    // How long a join waits for a worker that was asked to end (Stop, the destructor), and for
    // one that has posted its result (Start).
    static constexpr DWORD kJoinMs = 10000;

    CClipMaker() = default;
    // Stop(kJoinMs).
    ~CClipMaker();
    CClipMaker(const CClipMaker&) = delete;
    CClipMaker& operator=(const CClipMaker&) = delete;

    // Starts a worker for the job; the previous one, which has handed its result over, is joined
    // first. FALSE when one still runs or no thread can be made.
    BOOL Start(Job job);
    // TRUE from Start until TakeResult has handed the result over, or Stop has joined the worker.
    BOOL IsBusy() const { return m_bBusy; }
    // Moves the finished worker's result into `result`: TRUE once per Start, after the worker's
    // last step; FALSE (result untouched) before.
    BOOL TakeResult(Result& result);
    // The dialog's side of removeOldest: TRUE when the worker still waits for the removal, which
    // is then the caller's to do; FALSE when it gave up waiting or was told to end.
    BOOL ClaimRemoval();
    // Asks a running worker to end at its next step (no clip, the sound capture not touched
    // again), closes the message boxes on its thread, and joins it for at most timeoutMs while
    // handling messages sent to this thread. TRUE when no worker is left.
    BOOL Stop(DWORD timeoutMs);

    // Test seam: the room test, in place of CFrameStore::HasRoomForClip on the ring.
    void SetRoomTestForTesting(std::function<BOOL()> test) { m_roomTest = std::move(test); }

private:
    enum class Removal { none, wanted, done };

    static UINT __cdecl WorkerProc(LPVOID param);
    void Run();
    void Make(Result& result);
    // The sound of step 4. FALSE when memory ran out (reported).
    BOOL TakeSound(Result& result);
    bool Cancelled() const { return m_bCancel.load(); }
    void CloseWorkerWindows() const;

    Job m_job;
    std::function<BOOL()> m_roomTest;
    std::unique_ptr<CWinThread> m_pThread;
    bool m_bBusy = false; // dialog thread only
    std::atomic<bool> m_bCancel{false};
    mutable std::mutex m_lock;
    Result m_result;                   // guarded by m_lock
    bool m_bResultReady = false;       // guarded by m_lock
    Removal m_removal = Removal::none; // guarded by m_lock
};
