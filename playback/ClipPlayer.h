// CClipPlayer: plays one clip at a time. A worker thread (PlaybackThread) walks the clip's frames at
// the rate the clip was recorded at, feeds its sound to the sound output one 2944-byte block per
// tick (60 ticks a second), and hands every frame it shows to a publish function, which puts it
// into the shared frame channel. The first 50 frames shown fade in from black, and every playback
// ends with a one-second fade-out from the clip's next-to-last frame. A clip that plays to its end
// keeps the sound output running until the blocks still queued in it have been heard (about an
// eighth of a second), and only then fades out; a stop ends the sound at once.
//
// Ticks are paced by the sound output's block-end notifications. A clip without sound, a program
// without a sound output, or a buffer that gives no notifications or failed to start, is paced by
// a 60-a-second timer instead, so every playback runs at the same speed and comes to its end.
//
// Threading:
// - The dialog thread calls everything public: Start, the commands (SetPlayFlag, Seek, Pause),
//   IsPlaying, WaitForEnd, Abort and destruction. One playback thread at a time, owned by the
//   object: Start refuses while a playback runs (a second start is ignored, never run beside the
//   first), and destruction stops a running playback and joins its thread with a bounded wait, so
//   the clips and sound it reads can be freed after it.
// - m_csPlayer guards the command word and the seek position; the playback thread takes it only to
//   read or clear bits and never calls out while holding it.
// - m_soundLock guards whether a playback holds the sound output (Pause starts and stops the buffer
//   only then), so a pause released as a playback ends cannot leave the buffer looping after it.
// - The playback thread never waits for the dialog thread: the position slider gets posted
//   TBM_SETPOS messages, and the end of a playback is a posted message. Its longest wait is one
//   sound block (500 ms); the channel lock the publish function takes is bounded at 50 ms.
// - IsPlaying (the playing clip) is set by Start and cleared by the playback thread at its very
//   end, before the end message is posted.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "afx_sync.h"
#include "afx_thread.h"

class IBlockPacer;
class CFrameArray;
class CFrameImage;
class CSoundPlayer;
class SoundBlock;

class CClipPlayer {
public:
    // Bits of the command word.
    enum : UINT {
        PlayStop = 0x01,
        PlayPause = 0x02,
        PlayStepBack = 0x04,
        PlayStepForward = 0x08,
        PlaySeek = 0x10,
    };

    static constexpr int kTicksPerSecond = 60;
    // A nominal second of sound to the player: 60 blocks of 2944 bytes, a little more than the
    // 176400 bytes a second of the sound format.
    static constexpr LONGLONG kTickBytesPerSecond = 176640;
    // The rate of a clip that does not know its own: the program's default capture rate.
    static constexpr int kDefaultFrameRate = 30;
    static constexpr int kPositionRange = 10000; // the position slider's range is 0..10000
    static constexpr int kFadeInPercent = 100;   // the first frame shown is this much darkened,
    static constexpr int kFadeInStep = 2;        // each next one this much less
    static constexpr int kFadeOutSteps = 100;
    static constexpr DWORD kFadeOutStepMs = 10;
    static constexpr DWORD kPausePollMs = 16;
    static constexpr DWORD kTickWaitMs = 500;
    // How long destruction (and Abort) waits for the thread. Every wait inside the thread is
    // bounded (the longest, a sound block, 500 ms) and an abort is seen after each, so this is a
    // generous multiple of what it needs.
    static constexpr DWORD kJoinTimeoutMs = 10000;

    // Called on the playback thread with every frame shown; the dialog passes its frame publisher.
    using PublishFunc = std::function<void(const CFrameImage&)>;

    // pSound: the dialog's sound output, not owned; may be null, or without a buffer. It must
    // outlive the player (or at least any playback), as must the clips and sounds played.
    CClipPlayer(CSoundPlayer* pSound, PublishFunc publish);
    // Stops a running playback at once (no fade-out) and joins its thread (see Abort).
    ~CClipPlayer();
    CClipPlayer(const CClipPlayer&) = delete;
    CClipPlayer& operator=(const CClipPlayer&) = delete;

    // The dialog's windows, once they exist; they apply from the next Start. hwndNotify gets
    // nEndMessage (wParam and lParam 0) posted when a playback has ended and IsPlaying() is false;
    // hwndPosition, the position slider, gets TBM_SETPOS posted with each frame shown. Either may be
    // null.
    void SetWindows(HWND hwndNotify, UINT nEndMessage, HWND hwndPosition);

    // Plays pClip with pSound (null, or empty, for a clip without sound). nSoundDelayMs > 0 starts
    // the sound that far into the clip, < 0 starts the picture that far in. Clears the command word.
    // FALSE, and nothing starts, while a playback runs, for a missing or empty clip, or when the
    // thread or the fade image cannot be made.
    BOOL Start(const CFrameArray* pClip, const SoundBlock* pSound, int nSoundDelayMs);

    // Sets (bOn) or clears bits of the command word.
    void SetPlayFlag(UINT nBits, BOOL bOn);
    UINT GetPlayFlags() const;
    // The position slider: stores nPos (0..10000) as the seek position and sets PlaySeek (bOn, every
    // notification but the end of a drag) or clears it.
    void Seek(int nPos, BOOL bOn);
    // The pause button: sets or clears PlayPause; while a playback holds the sound output, stops
    // it (bPaused) or starts it looping again (a failed start restores the buffer).
    void Pause(BOOL bPaused);

    // True from a successful Start until the fade-out has ended. Live frames are dropped meanwhile.
    BOOL IsPlaying() const { return m_pPlayingClip.load() != nullptr; }
    const CFrameArray* GetPlayingClip() const { return m_pPlayingClip.load(); }

    // Where the playback stands: the frame shown last, the offset of the next sound block to play,
    // and the sound bytes still to be played from it. Meant for the publish function, which runs on
    // the playback thread, and for tests.
    struct Position {
        int nFrame;
        LONGLONG llReadOffset;
        LONGLONG llRemaining;
    };
    Position GetPosition() const;

    // Waits at most dwTimeoutMs for the playback thread to end; TRUE when none runs.
    BOOL WaitForEnd(DWORD dwTimeoutMs);
    // Ends a running playback at once, without its fade-out, and waits at most dwTimeoutMs for its
    // thread. TRUE when no thread runs any more.
    BOOL Abort(DWORD dwTimeoutMs = kJoinTimeoutMs);

private:
    struct Run;

    static UINT __cdecl ThreadProc(LPVOID param);
    void PlaybackThread(Run& run);
    void Display(Run& run, int nFrame, bool bForcePosition);
    void Publish(const CFrameImage& image);
    // At the end of a clip: keeps the sound output playing, paced as the ticks were, until what
    // was queued in it has been heard. Ends early on a stop, an abort or a pause.
    void PlayOutQueuedSound(IBlockPacer& timer, bool notified);
    // Stops the sound output if this playback holds it, and lets go of it.
    void ReleaseSound();
    void EndPlayback(Run& run);

    CSoundPlayer* m_pSound;
    PublishFunc m_publish;
    HWND m_hwndNotify = nullptr;
    UINT m_nEndMessage = 0;
    HWND m_hwndPosition = nullptr;

    mutable CCriticalSection m_csPlayer; // guards m_nPlayerCommands and m_nSeekPos
    UINT m_nPlayerCommands = 0;
    int m_nSeekPos = 0;

    std::mutex m_soundLock;                   // guards m_bSoundHeld; see Threading
    bool m_bSoundHeld = false;                // the running playback uses the sound output
    std::atomic<bool> m_bSoundRunning{false}; // and the buffer was started and not paused

    std::atomic<const CFrameArray*> m_pPlayingClip{nullptr};
    std::atomic<bool> m_bAbort{false};
    std::atomic<int> m_nFrame{0};
    std::atomic<LONGLONG> m_llReadOffset{0};
    std::atomic<LONGLONG> m_llRemaining{0};

    std::unique_ptr<Run> m_pRun;           // the running (or last) playback's own state
    std::unique_ptr<CWinThread> m_pThread; // its thread, owned and joined
};

// The rules a playback follows, as pure functions.
//
// Ticks a frame is shown for at a recorded rate: 60 / rate, at least 1 (rates above 60 play one
// frame a tick); a rate of 0 or less is unknown and taken as CClipPlayer::kDefaultFrameRate.
int TicksPerFrame(int nFrameRate);
// Sound bytes a positive delay skips: delay x 176640 / 1000, rounded down to whole sample frames
// of 4 bytes. 0 for no delay or a negative one.
LONGLONG SoundSkipBytes(int nSoundDelayMs);
// The frame a negative delay starts the picture at: -delay x rate / 1000, at most the last frame
// (a rate of 0 or less taken as for TicksPerFrame). 0 for no delay, a positive one, or no frames.
int FirstFrameForDelay(int nSoundDelayMs, int nFrameRate, int nFrameCount);
