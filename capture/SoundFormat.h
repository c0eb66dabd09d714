// The program's one sound format: every capture is made in it, every clip's sound block holds it,
// the sound output plays it, and a saved clip's sound stream is written in it.
#pragma once

#include <windows.h>

#include <mmsystem.h>

constexpr DWORD kSoundSampleRate = 44100;

// 16-bit stereo PCM at this rate: four bytes a sample frame.
inline WAVEFORMATEX StereoPcm16(DWORD dwSampleRate) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = dwSampleRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = dwSampleRate * 4;
    format.cbSize = 0;
    return format;
}

// 44100 Hz, 16-bit stereo PCM.
inline WAVEFORMATEX ClipSoundFormat() {
    return StereoPcm16(kSoundSampleRate);
}
