// The sound output as the dialog sets it up: the DirectSound device object it keeps, and the one
// sequence that opens the default output device and makes the player's buffer on it.
//
// Threading: dialog thread only (initialisation and destruction of the dialog).
#pragma once

#include <windows.h>

#include <wrl/client.h>

#include "SoundFormat.h"

struct IDirectSound;
class CSoundPlayer;

// The sound every clip carries (ClipSoundFormat: 44100 Hz, 16-bit stereo) is played in blocks of
// 2944 bytes, 60 of them a second (slightly more than the 176400 bytes a second the format holds),
// eight blocks deep.
constexpr DWORD kSoundBlockBytes = 2944;
constexpr DWORD kSoundBlockCount = 8;
// DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY |
// DSBCAPS_STATIC: global focus keeps the sound audible while another application has the focus.
constexpr DWORD kSoundBufferFlags = 0x80E2;

// Owns the IDirectSound device object; releasing it is the last step of the sound output, after
// every buffer made on it is gone.
class CDirectSoundDevice {
public:
    CDirectSoundDevice();
    ~CDirectSoundDevice();
    CDirectSoundDevice(const CDirectSoundDevice&) = delete;
    CDirectSoundDevice& operator=(const CDirectSoundDevice&) = delete;

    // Opens the default output device and sets the priority level for hwnd. Both answers must be
    // exactly DS_OK; on any other the device is released again and the result is that answer.
    HRESULT Open(HWND hwnd);
    void Release();

    IDirectSound* Get() const { return m_pDevice.Get(); }
    explicit operator bool() const { return m_pDevice != nullptr; }

private:
    Microsoft::WRL::ComPtr<IDirectSound> m_pDevice;
};

// The dialog's sound output: drops whatever the player and the device held, opens the default
// device for hwnd, makes the player's buffer (44100 Hz, 8 blocks of 2944 bytes, kSoundBufferFlags)
// and sets its volume to nVolumePercent, so a volume loaded from the settings is heard from the
// first playback on. False when there is no sound output; the program then plays without sound.
bool CreateSoundOutput(HWND hwnd, int nVolumePercent, CDirectSoundDevice& device, CSoundPlayer& player);
