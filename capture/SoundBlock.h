// SoundBlock: the sound of one clip, 44100 Hz, 2 channels, 16-bit little-endian samples,
// interleaved, oldest byte first.
#pragma once

#include <windows.h>

#include "OwningArray.h"
#include "afx_coll.h"

class SoundBlock : public CByteArray {
public:
    // Takes the whole sound ring, rotated so that the block starts with its oldest byte: first the
    // ring from the write position to its end, then from its start up to the write position.
    // A write position outside the ring counts as 0. Throws CMemoryException when the block
    // cannot be had (the block is then left empty).
    void TakeRing(const BYTE* ring, int ringSize, int writePos);
};

// The dialog's sound list: entry i belongs to clip i.
using CSoundBlockArray = COwningArray<SoundBlock>;
