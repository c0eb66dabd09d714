// CSoundCapture: the last pre + post seconds of sound, kept the way the frame store keeps video.
// A looping DirectSound capture buffer of that length wakes a worker thread at every block end;
// the worker copies the newly captured whole blocks into a ring of the same size at the same
// offsets, so the byte at the write position is the oldest in the ring once it has been filled.
// At a capture press the worker is told to go on for the post time and then stop the buffer and
// end; the clip maker then takes the ring, oldest byte first, and starts the worker again.
//
// What the clip maker uses, from its own thread, while the dialog's capture-side controls are
// disabled (so that nothing else calls Setup, Start or the destructor meanwhile):
//     if (capture.WaitForEnd(timeout))           // the worker stopped post seconds after the press
//         capture.TakeRingInto(block);           // or GetRing / GetRingSize / GetWritePos with
//                                                // SoundBlock::TakeRing
//     capture.Start();                           // capture again for the next press
// The worker ends at most kBlockWaitMs after the delay, so GetPost() * 1000 + kStopWaitMs is an
// ample timeout; waiting without one, as a polling loop on the thread's exit code does, is not
// needed.
// GetPost is the post time the ring was set up with; GetWaveFormat is the capture format for the
// AVI export (null when there is no buffer holder, that is before Setup or after it ran out of
// memory).
//
// Threading:
// - Setup, Start, RequestStop(StopNow), WaitForEnd, the ring accessors and destruction come from
//   one thread at a time: the dialog thread, or the clip maker's thread while the dialog keeps its
//   capture-side controls disabled. RequestStop(StopAfterDelay) comes from the dialog thread.
// - One worker thread per Start, owned here (m_pThread) and joined before the next Start, before
//   Setup rebuilds the buffer and before destruction, each time for at most kStopWaitMs. A worker
//   that a join gave up on (one stuck inside DirectSound for 10 s) is forgotten, as the platform
//   offers no way to end it safely; it then still uses this object.
// - The worker waits for a block end (or for m_wake, or for at most kBlockWaitMs) without the
//   lock, so a request from another thread never waits for a notification that may never come
//   (a failed Setup, a device that stalls). It takes m_lock for the copy, the state read and the
//   stop timer check only. m_lock guards the state, the stop timer, the write position, the read
//   cursor and the ring while the worker copies.
// - The ring and the write position are the clip maker's to read once WaitForEnd said the worker
//   ended; GetWritePos takes the lock, so it may also be read while the worker runs.
//
// This header does not include dsound.h: it declares IKsPropertySet in another method order than
// the DirectShow headers under the same guard, and the dialog includes both this and capture-graph
// code. The DirectSound code lives in SoundCapture.cpp, SoundCaptureBuffer.* and SoundDeviceList.cpp.
#pragma once

#include <windows.h>

#include <mmsystem.h>
#include <unknwn.h>

#include <memory>

#include "ClipSound.h"
#include "SoundDeviceList.h"
#include "UniqueAny.h"
#include "afx_sync.h"
#include "afx_thread.h"

struct IDirectSoundCapture;
class CSoundCaptureBuffer;
class SoundBlock;

namespace testing_support {
struct SoundCaptureTestAccess;
}

// The delay of a StopAfterDelay request, measured with the performance counter.
struct CStopTimer {
    // Reads the counter frequency.
    CStopTimer();
    // Starts the delay now.
    void Arm(DWORD delayMs);
    // Reads the counter into llCurrent; true when at least the delay has passed since Arm.
    bool HasElapsed();

    DWORD dwDelayMs = 0;
    LONGLONG llFrequency = 0;
    LONGLONG llStart = 0;
    LONGLONG llCurrent = 0;
};

class CSoundCapture : public IClipSound {
public:
    // The worker's state, set by RequestStop and Start.
    enum State { Running = 0, StopAfterDelay = 1, StopNow = 2 };
    // How long a StopNow request waits for the worker.
    static constexpr DWORD kStopWaitMs = 10000;
    // The longest the worker waits for a block end before it looks at its state again.
    static constexpr DWORD kBlockWaitMs = 500;

    // DirectSoundCaptureCreate's shape; tests hand in a capture object of their own.
    using CaptureFactory = HRESULT(WINAPI*)(LPCGUID pGuid, IDirectSoundCapture** ppCapture, IUnknown* pOuter);

    // create: how the capture object is made; null for DirectSoundCaptureCreate. Reads the counter
    // frequency for the stop timer.
    explicit CSoundCapture(CaptureFactory create = nullptr);
    // RequestStop(StopNow), then the buffer holder (which stops the capture buffer) and the ring go.
    virtual ~CSoundCapture();
    CSoundCapture(const CSoundCapture&) = delete;
    CSoundCapture& operator=(const CSoundCapture&) = delete;

    // Stops the worker (StopNow), drops the previous buffer and ring, and sets up a looping capture
    // buffer of (pre + post) seconds in whole blocks of 22048 bytes for the entry's device (the
    // default device when its flag is 0), with a notification at the last byte of every block, and
    // a ring of the same size. TRUE when ready. FALSE after the message "Error1!" (no capture
    // object), "Error2!" (no capture buffer; also for pre + post of 0 or less), "Error3!" (no
    // notify interface) or "Error4!" (no notifications), with what was made so far kept in the
    // holder; FALSE without a message when memory for the table or the ring runs out (the holder
    // is then dropped).
    BOOL Setup(const SoundDeviceEntry& entry, int pre, int post);
    // Starts a worker: state Running, the write position at the read cursor. A worker still running
    // is stopped and joined first (StopNow). TRUE when the worker thread was made. Works without a
    // successful Setup too: that worker copies nothing and still obeys every stop request.
    BOOL Start() override;
    // StopNow: when a worker runs, sets the state, wakes the worker and waits at most kStopWaitMs
    // for it, then forgets it; when none runs (none started, or it ended), does nothing.
    // StopAfterDelay: sets the stop timer to the post time from now and the state; the worker
    // stops the capture buffer and ends at its first wake-up after the delay, which is at most one
    // block (or kBlockWaitMs, when no notifications come) later. It never waits.
    void RequestStop(int state);

    // TRUE when no worker runs, or when the running one ends within timeoutMs.
    BOOL WaitForEnd(DWORD timeoutMs) const override;
    BOOL IsRunning() const { return !WaitForEnd(0); }

    // The ring (null before a successful Setup), its size (the capture buffer's) and the offset just
    // after its newest byte, which is also its oldest byte once the ring has been filled.
    const BYTE* GetRing() const { return m_pRing.get(); }
    DWORD GetRingSize() const override { return m_dwRingSize; }
    DWORD GetWritePos() const;
    // SoundBlock::TakeRing with the three above: the ring rotated to start with its oldest byte.
    // Throws CMemoryException as TakeRing does.
    void TakeRingInto(SoundBlock& block) const override;

    int GetPre() const { return m_nPre; }
    int GetPost() const override { return m_nPost; }
    // The capture format (PCM, 44100 Hz, 2 channels, 16 bits), or null without a buffer holder.
    const WAVEFORMATEX* GetWaveFormat() const;

private:
    friend struct testing_support::SoundCaptureTestAccess;

    static UINT __cdecl WorkerProc(LPVOID param);
    void Work();
    // Under m_lock: copies the whole blocks captured since the read cursor into the ring.
    void CopyCaptured();
    // Shows one of the set-up messages and gives FALSE for Setup to return.
    static BOOL Fail(const char* message);

    CaptureFactory m_pfnCreate;
    std::unique_ptr<CSoundCaptureBuffer> m_pBuffer;
    std::unique_ptr<BYTE[]> m_pRing;
    DWORD m_dwRingSize = 0;
    std::unique_ptr<CWinThread> m_pThread; // the worker, owned (see Threading)
    int m_nState = Running;
    mutable CCriticalSection m_lock;
    DWORD m_dwWritePos = 0;
    int m_nPre = 5;
    int m_nPost = 5;
    CStopTimer m_stopTimer;
    // Auto-reset; set by a StopNow request so the worker need not wait for its next block end.
    win::UniqueHandle m_wake{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};
