// IClipSound: what the clip maker needs of the sound capture once the ring has completed. The
// sound capture (CSoundCapture) is the one implementation in the program; tests stand in for it
// with sound sources whose thread ends late or never.
//
// Threading: the clip maker calls these from its worker thread while the dialog keeps its
// capture-side controls disabled, so that nothing else sets up, starts or deletes the capture
// meanwhile.
#pragma once

#include <windows.h>

class SoundBlock;

class IClipSound {
public:
    // TRUE when the capture's thread has ended (it stops by itself post seconds after the press),
    // or ends within timeoutMs.
    virtual BOOL WaitForEnd(DWORD timeoutMs) const = 0;
    // The ring rotated to start with its oldest byte. Only after WaitForEnd said the thread ended.
    // Throws CMemoryException when the block cannot be had.
    virtual void TakeRingInto(SoundBlock& block) const = 0;
    // Bytes in the ring (a block taken from it has this size).
    virtual DWORD GetRingSize() const = 0;
    // The post time in seconds the ring was set up with.
    virtual int GetPost() const = 0;
    // Captures again for the next press. TRUE when the thread was made.
    virtual BOOL Start() = 0;

protected:
    ~IClipSound() = default;
};
