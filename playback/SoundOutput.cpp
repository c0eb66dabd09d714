#include "SoundOutput.h"

#include <mmsystem.h>

#include <dsound.h>

#include "Log.h"
#include "SoundPlayer.h"

CDirectSoundDevice::CDirectSoundDevice() = default;

CDirectSoundDevice::~CDirectSoundDevice() = default;

HRESULT CDirectSoundDevice::Open(HWND hwnd) {
    Release();
    HRESULT hr = DirectSoundCreate(nullptr, &m_pDevice, nullptr);
    if (hr == DS_OK)
        hr = m_pDevice->SetCooperativeLevel(hwnd, DSSCL_PRIORITY);
    if (hr != DS_OK) {
        Release();
        // A success code other than DS_OK is still no usable device to the caller.
        return SUCCEEDED(hr) ? E_FAIL : hr;
    }
    return DS_OK;
}

void CDirectSoundDevice::Release() {
    m_pDevice.Reset();
}

bool CreateSoundOutput(HWND hwnd, int nVolumePercent, CDirectSoundDevice& device, CSoundPlayer& player) {
    // The buffer goes before the device it was made on: a device object takes its buffers with it.
    player.Close();
    if (FAILED(device.Open(hwnd)))
        return false;
    if (!player.Create(device.Get(), kSoundSampleRate, kSoundBlockBytes, kSoundBlockCount,
                       kSoundBufferFlags)) {
        device.Release();
        return false;
    }
    // Not fatal: a buffer that refuses a volume still plays, at full volume.
    LOG_IF_WIN32_FALSE(player.SetVolume(nVolumePercent));
    return true;
}
