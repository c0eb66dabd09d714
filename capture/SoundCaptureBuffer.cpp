#include "SoundCaptureBuffer.h"

#include "Log.h"
#include "SoundFormat.h"

CSoundCaptureBuffer::CSoundCaptureBuffer()
    : m_format(ClipSoundFormat()), m_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CSoundCaptureBuffer::~CSoundCaptureBuffer() {
    StopCapture();
    // The notify interface belongs to the buffer, and the buffer to the capture object: each goes
    // before what it came from.
    m_pNotify.Reset();
    m_pBuffer.Reset();
    m_pCapture.Reset();
}

void CSoundCaptureBuffer::StopCapture() {
    if (m_pNotify && m_pBuffer)
        (void)LOG_IF_FAILED(m_pBuffer->Stop()); // a buffer that will not stop is released anyway
}
