#include "SoundPlayer.h"

#include <mmsystem.h>

#include <dsound.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "Log.h"
#include "SoundControls.h"
#include "SoundFormat.h"

static_assert(kBufferVolumeMin == DSBVOLUME_MIN, "the volume rule's floor is DirectSound's");

CSoundPlayer::CSoundPlayer() = default;

CSoundPlayer::~CSoundPlayer() {
    Close();
}

bool CSoundPlayer::Create(IDirectSound* pDevice, DWORD dwSampleRate, DWORD dwBlockSize, DWORD dwBlockCount,
                          DWORD dwFlags) {
    if (!pDevice)
        return false;
    if (dwBlockSize != 0 && dwBlockCount > MAXDWORD / dwBlockSize)
        return false;
    const DWORD dwBufferSize = dwBlockSize * dwBlockCount;

    WAVEFORMATEX format = StereoPcm16(dwSampleRate);
    DSBUFFERDESC desc = {};
    // Without the 3D-algorithm identifier: the description every DirectSound version takes. Its size
    // is that of the structure on this width (24 bytes on x64), which Wine checks to the byte.
    desc.dwSize = sizeof(DSBUFFERDESC1);
    desc.dwFlags = dwFlags | DSBCAPS_CTRLPOSITIONNOTIFY;
    desc.dwBufferBytes = dwBufferSize;
    desc.dwReserved = 0;
    desc.lpwfxFormat = &format;

    Microsoft::WRL::ComPtr<IDirectSoundBuffer> pBuffer;
    if (FAILED(pDevice->CreateSoundBuffer(&desc, &pBuffer, nullptr)) || !pBuffer)
        return false;

    Close();

    Microsoft::WRL::ComPtr<IDirectSoundNotify> pNotify;
    // By its IID: the platform headers give IDirectSoundNotify no __uuidof, which ComPtr::As needs.
    if (SUCCEEDED(pBuffer->QueryInterface(IID_IDirectSoundNotify,
                                          reinterpret_cast<void**>(pNotify.GetAddressOf())))) {
        // The platform copies the table; it is needed only for this call.
        std::vector<DSBPOSITIONNOTIFY> table;
        try {
            table.resize(dwBlockCount);
        } catch (const std::bad_alloc&) {
            table.clear(); // a buffer of absurdly many blocks then plays without notifications
        }
        if (!table.empty())
            m_event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (m_event) {
            for (DWORD i = 0; i < dwBlockCount; ++i) {
                table[i].dwOffset = dwBlockSize * (i + 1) - 1;
                table[i].hEventNotify = m_event.get();
            }
            // An event nothing ever sets would make every tick wait 500 ms for a block end and then
            // drop the block. Without notifications there is no event at all instead, so the player
            // sees HasNotifications() false and paces by its timer.
            if (SUCCEEDED(LOG_IF_FAILED(pNotify->SetNotificationPositions(dwBlockCount, table.data()))))
                m_pNotify = std::move(pNotify);
            else
                m_event.reset();
        }
    }

    m_pBuffer = std::move(pBuffer);
    m_dwBufferSize = dwBufferSize;
    return true;
}

void CSoundPlayer::Close() {
    if (m_event) {
        LOG_IF_WIN32_FALSE(SetEvent(m_event.get()));
        // A playback thread may be inside WaitBlock on this event: give it time to wake and leave
        // before the event is closed and the buffer released.
        Sleep(kBlockWaitMs);
    }
    m_pNotify.Reset();
    m_pBuffer.Reset();
    m_event.reset();
    m_dwBufferSize = 0;
}

bool CSoundPlayer::WaitBlock(DWORD dwTimeoutMs) {
    if (!m_event)
        return true;
    return WaitForSingleObject(m_event.get(), dwTimeoutMs) == WAIT_OBJECT_0;
}

bool CSoundPlayer::WriteBlock(const void* pSource, DWORD dwLength, DWORD dwAdvance, bool bWait) {
    if (!m_pBuffer || (!pSource && dwLength != 0))
        return false;
    if (bWait && !WaitBlock(kBlockWaitMs))
        return false;

    DWORD dwPlay = 0;
    if (FAILED(m_pBuffer->GetCurrentPosition(&dwPlay, nullptr)))
        return false;
    // No write while the play cursor lies less than a block from the write offset on either side:
    // that place is being played or is next. The distance is the plain difference of the two
    // offsets, not taken round the end of the buffer. In steady play the writes land in the block
    // the cursor has just finished, seven blocks before it comes round to them again.
    const long long distance = static_cast<long long>(m_dwWriteOffset) - static_cast<long long>(dwPlay);
    if ((distance < 0 ? -distance : distance) < static_cast<long long>(dwLength))
        return true;

    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    if (FAILED(m_pBuffer->Lock(m_dwWriteOffset, dwLength, &p1, &n1, &p2, &n2, 0))) {
        Restore();
        return false;
    }
    const BYTE* source = static_cast<const BYTE*>(pSource);
    const DWORD first = std::min(n1, dwLength);
    if (first)
        std::memcpy(p1, source, first);
    // The rest goes into the second region when the locked range runs past the end of the buffer.
    const DWORD second = std::min(n2, dwLength - first);
    if (p2 && second)
        std::memcpy(p2, source + first, second);
    if (FAILED(m_pBuffer->Unlock(p1, n1, p2, n2))) {
        Restore();
        return false;
    }

    // Back to the start, not round it: with whole blocks both are the same, and a caller that
    // writes odd lengths starts the next round at the beginning of the buffer again.
    m_dwWriteOffset += dwAdvance;
    if (m_dwWriteOffset >= m_dwBufferSize)
        m_dwWriteOffset = 0;
    return true;
}

bool CSoundPlayer::Play() {
    if (!m_pBuffer)
        return false;
    if (SUCCEEDED(m_pBuffer->Play(0, 0, DSBPLAY_LOOPING)))
        return true;
    // Typically a lost buffer: get its memory back for the next start.
    Restore();
    return false;
}

bool CSoundPlayer::Stop() {
    return m_pBuffer && SUCCEEDED(m_pBuffer->Stop());
}

bool CSoundPlayer::Restore() {
    return m_pBuffer && SUCCEEDED(m_pBuffer->Restore());
}

bool CSoundPlayer::SetVolume(int nPercent) {
    return m_pBuffer && SUCCEEDED(m_pBuffer->SetVolume(BufferVolumeFromPercent(nPercent)));
}

bool CSoundPlayer::Silence() {
    if (!m_pBuffer)
        return false;
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    if (FAILED(m_pBuffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER))) {
        Restore();
        return false;
    }
    // 16-bit PCM is signed, so silence is zero bytes.
    if (p1)
        std::memset(p1, 0, n1);
    if (p2)
        std::memset(p2, 0, n2);
    if (FAILED(m_pBuffer->Unlock(p1, n1, p2, n2))) {
        Restore();
        return false;
    }
    return true;
}
