// IBlockPacer: the clock a playback is paced by, one wake-up per block of sound (60 a second).
//
// The sound output (CSoundPlayer) paces with its buffer's block-end notifications; when there is no
// sound to play or no sound output at all, CTickTimer gives the same wake-ups from a timer, so a
// player loop written against this interface runs at the same rate either way.
#pragma once

#include <windows.h>

class IBlockPacer {
public:
    // Waits at most dwTimeoutMs for the next block end. True when it came in time (or when there is
    // nothing to wait for), false when the time ran out.
    virtual bool WaitBlock(DWORD dwTimeoutMs) = 0;

    virtual ~IBlockPacer() = default;
};
