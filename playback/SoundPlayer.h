// CSoundPlayer: the sound output a clip plays through, a looping DirectSound secondary buffer of a
// few equal blocks with a notification at the last byte of each. The player writes one block per
// tick behind the play cursor; the notifications are the clock its ticks wait for.
//
// Threading: Create, Close and destruction run on the dialog thread while no playback runs.
// WriteBlock and WaitBlock run on the playback thread only. Play, Stop, Restore, SetVolume and
// Silence may come from the playback thread (start and end of a playback) and from the dialog
// thread (pause, the volume slider); DirectSound buffers accept calls from any thread, so no lock
// of ours guards the buffer. The notification event is auto-reset: block ends that pass while
// nobody waits collapse into one wake-up. Close (and so destruction) signals the event and then
// waits 500 ms before it releases anything, so a playback thread still inside WaitBlock wakes up
// and leaves before the event is closed under it.
//
// This header does not include dsound.h: it declares IKsPropertySet in another method order than
// the DirectShow headers, under the same guard, so the dialog (which also includes capture-graph
// code) must never see it. The DirectSound code lives in SoundPlayer.cpp and SoundOutput.cpp.
#pragma once

#include <windows.h>

#include <wrl/client.h>

#include "BlockPacer.h"
#include "UniqueAny.h"

struct IDirectSound;
struct IDirectSoundBuffer;
struct IDirectSoundNotify;

class CSoundPlayer : public IBlockPacer {
public:
    // How long WriteBlock waits for a block end, and how long Close gives a waiter to wake up.
    static constexpr DWORD kBlockWaitMs = 500;

    CSoundPlayer();
    ~CSoundPlayer() override;
    CSoundPlayer(const CSoundPlayer&) = delete;
    CSoundPlayer& operator=(const CSoundPlayer&) = delete;

    // Makes a stopped buffer of dwBlockCount blocks of dwBlockSize bytes of 16-bit stereo PCM at
    // dwSampleRate, with dwFlags | DSBCAPS_CTRLPOSITIONNOTIFY, and a notification at the last byte
    // of every block, all on one auto-reset event. On failure everything held from before is kept;
    // on success it is closed first.
    bool Create(IDirectSound* pDevice, DWORD dwSampleRate, DWORD dwBlockSize, DWORD dwBlockCount,
                DWORD dwFlags);
    // Wakes a waiter (see Threading), then releases notify and buffer, the table and the event.
    void Close();

    // True when a block end came within dwTimeoutMs, or at once when there is no event.
    bool WaitBlock(DWORD dwTimeoutMs) override;
    // Writes dwLength bytes at the write offset and moves it on by dwAdvance (back to 0 at the end of
    // the buffer). With bWait, first waits up to kBlockWaitMs for a block end and fails without it.
    // When the write offset lies less than dwLength from the play cursor, nothing is written, the
    // offset stays, and the result is still success. A failed lock or unlock restores the buffer.
    bool WriteBlock(const void* pSource, DWORD dwLength, DWORD dwAdvance, bool bWait);

    // Starts looping from wherever the play cursor stands; a failed start restores the buffer and
    // is not retried.
    bool Play();
    bool Stop();
    bool Restore();
    // Sets the buffer volume from a percentage (BufferVolumeFromPercent).
    bool SetVolume(int nPercent);
    // Fills the whole buffer with silence, so that a playback does not start with what the previous
    // one left in it. A failed lock or unlock restores the buffer.
    bool Silence();

    bool HasBuffer() const { return m_pBuffer != nullptr; }
    // Whether block ends wake WaitBlock. Without them (no buffer, or one that took no notification
    // positions) WaitBlock returns at once, and a playback has to take its pace from CTickTimer.
    bool HasNotifications() const { return m_event.is_valid(); }
    // The buffer itself, for what the class does not wrap (GetCaps, GetFormat, GetVolume).
    IDirectSoundBuffer* GetBuffer() const { return m_pBuffer.Get(); }
    DWORD GetBufferSize() const { return m_dwBufferSize; }
    DWORD GetWriteOffset() const { return m_dwWriteOffset; }

private:
    Microsoft::WRL::ComPtr<IDirectSoundBuffer> m_pBuffer;
    Microsoft::WRL::ComPtr<IDirectSoundNotify> m_pNotify;
    win::UniqueHandle m_event;
    DWORD m_dwBufferSize = 0;
    // Where the next block goes. Never reset: the player's writes chase the play cursor from
    // wherever the previous playback left both.
    DWORD m_dwWriteOffset = 0;
};
