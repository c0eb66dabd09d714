#include "sound_buffer_volume.h"

#include <mmsystem.h>

#include <dsound.h>

#include "SoundPlayer.h"

LONG SoundBufferVolume(const CSoundPlayer& output) {
    LONG volume = 1;
    IDirectSoundBuffer* buffer = output.GetBuffer();
    if (!buffer || FAILED(buffer->GetVolume(&volume)))
        return 1;
    return volume;
}
