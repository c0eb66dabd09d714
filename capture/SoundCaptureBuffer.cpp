#include "SoundCaptureBuffer.h"

#include "Log.h"

CSoundCaptureBuffer::CSoundCaptureBuffer() : m_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    m_format.wFormatTag = WAVE_FORMAT_PCM;
    m_format.nChannels = 2;
    m_format.nSamplesPerSec = 44100;
    m_format.nAvgBytesPerSec = 176400;
    m_format.nBlockAlign = 4;
    m_format.wBitsPerSample = 16;
    m_format.cbSize = 0;
}

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
