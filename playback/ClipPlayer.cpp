#include "ClipPlayer.h"

#include <commctrl.h>

#include <algorithm>
#include <new>

#include "FrameArray.h"
#include "Log.h"
#include "SoundBlock.h"
#include "SoundOutput.h"
#include "SoundPlayer.h"
#include "TickTimer.h"

namespace {

constexpr LONGLONG kBlockBytes = kSoundBlockBytes;

int EffectiveFrameRate(int nFrameRate) {
    return nFrameRate > 0 ? nFrameRate : CClipPlayer::kDefaultFrameRate;
}

} // namespace

int TicksPerFrame(int nFrameRate) {
    return std::max(1, CClipPlayer::kTicksPerSecond / EffectiveFrameRate(nFrameRate));
}

LONGLONG SoundSkipBytes(int nSoundDelayMs) {
    if (nSoundDelayMs <= 0)
        return 0;
    // Whole sample frames: a skip into the middle of one would swap the channels, or play the two
    // bytes of each sample the wrong way round, for the rest of the clip.
    return (static_cast<LONGLONG>(nSoundDelayMs) * CClipPlayer::kTickBytesPerSecond / 1000) & ~3LL;
}

int FirstFrameForDelay(int nSoundDelayMs, int nFrameRate, int nFrameCount) {
    if (nSoundDelayMs >= 0 || nFrameCount <= 0)
        return 0;
    const LONGLONG frame = -static_cast<LONGLONG>(nSoundDelayMs) * EffectiveFrameRate(nFrameRate) / 1000;
    return static_cast<int>(std::min<LONGLONG>(frame, nFrameCount - 1));
}

// What one playback reads and keeps; made by Start, used by its thread only.
struct CClipPlayer::Run {
    const CFrameArray* pClip = nullptr;
    const BYTE* pSound = nullptr; // null for a clip without sound
    LONGLONG llSoundBytes = 0;
    int nSoundDelayMs = 0;
    int nFrameRate = 0;
    HWND hwndNotify = nullptr;
    UINT nEndMessage = 0;
    HWND hwndPosition = nullptr;
    CFrameImage working; // the fade-in and fade-out frames are darkened here
    int nFadeIn = kFadeInPercent;
    int nLastPosition = -1; // the slider position posted last
};

CClipPlayer::CClipPlayer(CSoundPlayer* pSound, PublishFunc publish)
    : m_pSound(pSound), m_publish(std::move(publish)) {}

CClipPlayer::~CClipPlayer() {
    if (!Abort())
        OutputDebugStringA("zarvex: the playback thread did not end within its bound\n");
}

void CClipPlayer::SetWindows(HWND hwndNotify, UINT nEndMessage, HWND hwndPosition) {
    m_hwndNotify = hwndNotify;
    m_nEndMessage = nEndMessage;
    m_hwndPosition = hwndPosition;
}

BOOL CClipPlayer::Start(const CFrameArray* pClip, const SoundBlock* pSound, int nSoundDelayMs) {
    // One playback at a time: a second start while one runs is ignored. Running it beside the
    // first would have two threads feeding one sound buffer and one channel.
    if (IsPlaying())
        return FALSE;
    // Nothing to show, and no frame to fade from.
    if (!pClip || pClip->GetSize() == 0)
        return FALSE;
    const CFrameImage* first = pClip->GetAt(0);
    if (!first || !first->HasPixels())
        return FALSE;
    // The previous playback has cleared its mark already; its thread is at most posting its end.
    if (!WaitForEnd(kJoinTimeoutMs))
        return FALSE;
    m_pThread.reset();

    std::unique_ptr<Run> run(new (std::nothrow) Run);
    if (!run || !run->working.Create(first->GetWidth(), first->GetHeight(), first->GetBitCount()))
        return FALSE;
    run->pClip = pClip;
    if (pSound && pSound->GetSize() > 0) {
        run->pSound = pSound->GetData();
        run->llSoundBytes = pSound->GetSize();
    }
    run->nSoundDelayMs = nSoundDelayMs;
    run->nFrameRate = EffectiveFrameRate(pClip->GetFrameRate());
    run->hwndNotify = m_hwndNotify;
    run->nEndMessage = m_nEndMessage;
    run->hwndPosition = m_hwndPosition;

    {
        std::lock_guard<CCriticalSection> hold(m_csPlayer);
        m_nPlayerCommands = 0;
    }
    m_bAbort = false;
    m_pRun = std::move(run);
    m_pPlayingClip = pClip;
    m_pThread = AfxBeginOwnedThread(&CClipPlayer::ThreadProc, this);
    if (!m_pThread) {
        m_pPlayingClip = nullptr;
        return FALSE;
    }
    return TRUE;
}

void CClipPlayer::SetPlayFlag(UINT nBits, BOOL bOn) {
    std::lock_guard<CCriticalSection> hold(m_csPlayer);
    if (bOn)
        m_nPlayerCommands |= nBits;
    else
        m_nPlayerCommands &= ~nBits;
}

UINT CClipPlayer::GetPlayFlags() const {
    std::lock_guard<CCriticalSection> hold(m_csPlayer);
    return m_nPlayerCommands;
}

void CClipPlayer::Seek(int nPos, BOOL bOn) {
    std::lock_guard<CCriticalSection> hold(m_csPlayer);
    m_nSeekPos = nPos;
    if (bOn)
        m_nPlayerCommands |= PlaySeek;
    else
        m_nPlayerCommands &= ~PlaySeek;
}

void CClipPlayer::Pause(BOOL bPaused) {
    SetPlayFlag(PlayPause, bPaused);
    std::lock_guard<std::mutex> hold(m_soundLock);
    if (!m_bSoundHeld)
        return;
    if (bPaused) {
        m_bSoundRunning = false;
        (void)m_pSound->Stop(); // a buffer that will not stop was lost; the next start restores it
    } else {
        // Play restores a buffer that fails to start; the ticks then run on the timer.
        m_bSoundRunning = m_pSound->Play();
    }
}

CClipPlayer::Position CClipPlayer::GetPosition() const {
    return {m_nFrame.load(), m_llReadOffset.load(), m_llRemaining.load()};
}

BOOL CClipPlayer::WaitForEnd(DWORD dwTimeoutMs) {
    return !m_pThread || m_pThread->Join(dwTimeoutMs);
}

BOOL CClipPlayer::Abort(DWORD dwTimeoutMs) {
    if (!m_pThread)
        return TRUE;
    m_bAbort = true;
    SetPlayFlag(PlayStop, TRUE);
    return WaitForEnd(dwTimeoutMs);
}

UINT __cdecl CClipPlayer::ThreadProc(LPVOID param) {
    auto* player = static_cast<CClipPlayer*>(param);
    player->PlaybackThread(*player->m_pRun);
    return 0;
}

void CClipPlayer::Publish(const CFrameImage& image) {
    if (m_publish)
        m_publish(image);
}

void CClipPlayer::Display(Run& run, int nFrame, bool bForcePosition) {
    const int count = run.pClip->GetSize();
    const int position = static_cast<int>(static_cast<LONGLONG>(nFrame) * kPositionRange / count);
    // Posted, never sent: the dialog thread may be busy (a clip being made, a message box) and the
    // playback must not wait for it. Only changes are posted, so a busy dialog finds a few dozen
    // messages waiting, not one per tick; during a drag or a step the slider is set back to the
    // frame shown on every pass.
    if (run.hwndPosition && (bForcePosition || position != run.nLastPosition) &&
        PostMessage(run.hwndPosition, TBM_SETPOS, TRUE, position))
        run.nLastPosition = position;

    const CFrameImage* frame = run.pClip->GetAt(nFrame);
    if (!frame)
        return;
    if (run.nFadeIn > 0) {
        run.working.Fill(0);
        // A frame of another shape than the first cannot be blended; it is shown as it is.
        Publish(frame->BlendInto(&run.working, run.nFadeIn) ? run.working : *frame);
        run.nFadeIn -= kFadeInStep;
    } else {
        // Straight from the clip: no copy of the frame but the channel's.
        Publish(*frame);
    }
}

void CClipPlayer::PlaybackThread(Run& run) {
    // Whatever way the thread leaves (an exception from the publish function included), the sound
    // output is given back, the mark is cleared and the dialog hears of it: a playback that stayed
    // marked would drop every live frame from then on.
    struct CEnd {
        CClipPlayer& player;
        Run& run;
        ~CEnd() { player.EndPlayback(run); }
    } end{*this, run};

    // Lives for the whole playback: besides pacing what the sound output does not, it holds the
    // system timer at 1 ms, which the fade-out's 10 ms steps need.
    CTickTimer timer;

    const CFrameArray& clip = *run.pClip;
    const int count = clip.GetSize();
    const int ticksPerFrame = TicksPerFrame(run.nFrameRate);
    const bool hasSound = run.pSound != nullptr;
    int index = 0;
    int tick = 0;
    LONGLONG readOffset = 0;
    LONGLONG remaining = run.llSoundBytes;
    // The delay moves sound against picture; a clip without sound has nothing to move.
    if (hasSound) {
        const LONGLONG skip = SoundSkipBytes(run.nSoundDelayMs);
        readOffset = skip;
        remaining -= skip; // below one block when the skip passes the end: the first tick ends it
        index = FirstFrameForDelay(run.nSoundDelayMs, run.nFrameRate, count);
    }
    m_nFrame = index;
    m_llReadOffset = readOffset;
    m_llRemaining = remaining;

    const bool useOutput = hasSound && m_pSound && m_pSound->HasBuffer();
    const bool notified = useOutput && m_pSound->HasNotifications();
    if (useOutput) {
        // What the previous clip left in the buffer would otherwise be heard until the first blocks
        // of this one overwrite it. A lost buffer is restored inside; the playback goes on.
        (void)m_pSound->Silence();
        std::lock_guard<std::mutex> hold(m_soundLock);
        m_bSoundHeld = true;
        m_bSoundRunning = !(GetPlayFlags() & PlayPause) && m_pSound->Play();
    }
    timer.Restart();

    UINT flags = GetPlayFlags();
    bool ranOut = false; // the clip came to its end, rather than being stopped
    while (!(flags & PlayStop) && !m_bAbort) {
        bool show = true;
        bool forcePosition = true;
        if (flags == PlayPause) {
            show = false;
            Sleep(kPausePollMs);
        } else if (flags & PlaySeek) {
            // The flag stays set for a whole drag: without a pace the loop would publish as fast as
            // the channel takes frames.
            (void)timer.WaitBlock(kTickWaitMs); // a late tick only shows the drag a little later
            LONGLONG target;
            {
                std::lock_guard<CCriticalSection> hold(m_csPlayer);
                target = static_cast<LONGLONG>(count) * m_nSeekPos / kPositionRange;
            }
            index = static_cast<int>(std::clamp<LONGLONG>(target, 0, count - 1));
        } else if (flags & PlayStepBack) {
            SetPlayFlag(PlayStepBack, FALSE);
            index = std::max(index - 1, 0);
            if (hasSound)
                remaining = std::min(remaining + kBlockBytes, run.llSoundBytes - readOffset);
        } else if (flags & PlayStepForward) {
            SetPlayFlag(PlayStepForward, FALSE);
            index = std::min(index + 1, count - 1);
            if (hasSound)
                remaining = std::max(remaining - kBlockBytes, kBlockBytes);
        } else {
            forcePosition = false;
            if (++tick >= ticksPerFrame) {
                tick = 0;
                if (++index >= count) {
                    ranOut = true;
                    break;
                }
            }
            if (hasSound) {
                if (remaining < kBlockBytes) {
                    ranOut = true;
                    break;
                }
                const BYTE* block = run.pSound + readOffset;
                // A block that is not written is lost; the tick counts all the same.
                if (notified && m_bSoundRunning) {
                    (void)m_pSound->WriteBlock(block, kSoundBlockBytes, kSoundBlockBytes, true);
                } else {
                    // No block ends to wait for (none given, or a buffer that did not start): every
                    // wait would run its 500 ms out, and the clip would crawl.
                    (void)timer.WaitBlock(kTickWaitMs);
                    if (useOutput)
                        (void)m_pSound->WriteBlock(block, kSoundBlockBytes, kSoundBlockBytes, false);
                }
                remaining -= kBlockBytes;
                if (remaining < kBlockBytes) {
                    ranOut = true;
                    break;
                }
                readOffset += kBlockBytes;
            } else {
                (void)timer.WaitBlock(kTickWaitMs);
            }
        }
        m_nFrame = index;
        m_llReadOffset = readOffset;
        m_llRemaining = remaining;
        if (show)
            Display(run, index, forcePosition);
        flags = GetPlayFlags();
    }
    m_llRemaining = remaining;

    // A clip that played to its end still has its last blocks queued in the sound output; a stop
    // now would cut them off, and every clip would lose the end of its sound. A stop or pause by
    // the user ends the sound at once.
    if (ranOut && useOutput)
        PlayOutQueuedSound(timer, notified);
    ReleaseSound();

    // The clip's last frame is black; the fade-out starts from the last real one, the only one a
    // one-frame clip has.
    const CFrameImage* from = clip.GetAt(std::max(count - 2, 0));
    for (int i = 0; i < kFadeOutSteps && from && !m_bAbort; ++i) {
        run.working.Fill(0);
        Publish(from->BlendInto(&run.working, i) ? run.working : *from);
        Sleep(kFadeOutStepMs);
    }
}

void CClipPlayer::PlayOutQueuedSound(IBlockPacer& timer, bool notified) {
    // What was written last lies up to the buffer's depth ahead of the play cursor (the writes land
    // just behind it). Pacing that many more blocks lets the cursor pass all of it; silence goes
    // in behind it, so the cursor never comes round to blocks it has played already.
    static const BYTE silence[kSoundBlockBytes] = {};
    const DWORD depth = m_pSound->GetBufferSize() / kSoundBlockBytes;
    for (DWORD i = 0; i < depth && m_bSoundRunning && !m_bAbort && !(GetPlayFlags() & PlayStop); ++i) {
        // A block that is not written leaves what the cursor already played in its place; the stop
        // comes before the cursor reaches it.
        if (notified) {
            (void)m_pSound->WriteBlock(silence, kSoundBlockBytes, kSoundBlockBytes, true);
        } else {
            (void)timer.WaitBlock(kTickWaitMs); // a late tick only plays a little more silence
            (void)m_pSound->WriteBlock(silence, kSoundBlockBytes, kSoundBlockBytes, false);
        }
    }
}

void CClipPlayer::ReleaseSound() {
    std::lock_guard<std::mutex> hold(m_soundLock);
    if (!m_bSoundHeld)
        return;
    m_bSoundHeld = false;
    m_bSoundRunning = false;
    (void)m_pSound->Stop(); // a buffer that will not stop was lost: it plays nothing
}

void CClipPlayer::EndPlayback(Run& run) {
    ReleaseSound();
    m_pPlayingClip = nullptr;
    // Posted after the mark is cleared, so the dialog that answers it finds IsPlaying() false.
    if (run.hwndNotify && run.nEndMessage)
        (void)PostMessage(run.hwndNotify, run.nEndMessage, 0, 0); // a window already gone needs no news
}
