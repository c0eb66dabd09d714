// CSoundCaptureBuffer: the DirectSound objects behind one sound capture: the capture object, its
// looping capture buffer with the buffer's notify interface, the wave format, the block layout,
// the read cursor, and the event every block end sets.
//
// Threading: made, filled and deleted by CSoundCapture::Setup and its destructor while no worker
// runs; while the worker runs it is used under CSoundCapture's lock, except for the event, which
// the worker waits on without the lock.
//
// This header includes dsound.h, whose IKsPropertySet clashes with the DirectShow headers' under
// one include guard: only sound capture sources and their tests include it. Everything else knows
// the class from the forward declaration in SoundCapture.h.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <dsound.h>

#include <wrl/client.h>

#include <vector>

#include "UniqueAny.h"

class CSoundCaptureBuffer {
public:
    // Makes the event (auto-reset, not signalled, unnamed) and sets the wave format to the clip
    // sound format. The event may be missing when the system has no event to give.
    CSoundCaptureBuffer();
    // Stops the capture buffer when both it and its notify interface exist, then releases notify,
    // buffer and capture object in that order; the table and the event go last.
    virtual ~CSoundCaptureBuffer();
    CSoundCaptureBuffer(const CSoundCaptureBuffer&) = delete;
    CSoundCaptureBuffer& operator=(const CSoundCaptureBuffer&) = delete;

    // Stops the capture buffer when both it and its notify interface exist.
    void StopCapture();
    // All three objects are there: the buffer can be started and will wake the worker.
    bool IsComplete() const { return m_pCapture && m_pNotify && m_pBuffer; }

    Microsoft::WRL::ComPtr<IDirectSoundCapture> m_pCapture;
    Microsoft::WRL::ComPtr<IDirectSoundCaptureBuffer> m_pBuffer;
    Microsoft::WRL::ComPtr<IDirectSoundNotify> m_pNotify;
    WAVEFORMATEX m_format = {};
    DWORD m_dwBlockSize = 0;  // bytes between two notifications
    DWORD m_dwBufferSize = 0; // block size x notification count
    DWORD m_dwReadCursor = 0; // offset up to which captured data has been copied into the ring
    win::UniqueHandle m_event;
    std::vector<DSBPOSITIONNOTIFY> m_notifications;
    int m_nNotifications = 16; // until Setup computes it
};
