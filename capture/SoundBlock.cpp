#include "SoundBlock.h"

#include <cstring>

void SoundBlock::TakeRing(const BYTE* ring, int ringSize, int writePos) {
    RemoveAll();
    if (!ring || ringSize <= 0)
        return;
    if (writePos < 0 || writePos >= ringSize)
        writePos = 0;
    SetSize(ringSize);
    const size_t tail = static_cast<size_t>(ringSize - writePos);
    std::memcpy(GetData(), ring + writePos, tail);
    std::memcpy(GetData() + tail, ring, static_cast<size_t>(writePos));
}
