// The sound output's buffer volume as DirectSound reports it, for the dialog tests. A translation
// unit of its own: dsound.h declares IKsPropertySet in another method order than the DirectShow
// headers the dialog tests include.
#pragma once

#include <windows.h>

class CSoundPlayer;

// The buffer's volume in hundredths of a decibel; 1 (no volume DirectSound gives) when there is no
// buffer or it does not answer.
LONG SoundBufferVolume(const CSoundPlayer& output);
