#include "SoundControls.h"

#include <algorithm>
#include <cmath>

LONG BufferVolumeFromPercent(int nPercent) {
    if (nPercent <= 0)
        return kBufferVolumeMin;
    if (nPercent >= 100)
        return 0;
    // The cast cuts towards zero, which is what turns -752.57 into -752 for 50 %.
    return static_cast<LONG>(std::log10(static_cast<double>(nPercent) / 100.0) * 2500.0);
}

int StepSoundDelay(int nDelayMs, int nDelta) {
    // Widened first: a delay loaded from a damaged settings file may sit at the ends of int.
    const long long step = nDelta < 0 ? kSoundDelayStepMs : -kSoundDelayStepMs;
    const long long next = static_cast<long long>(nDelayMs) + step;
    return static_cast<int>(std::clamp<long long>(next, -kSoundDelayLimitMs, kSoundDelayLimitMs));
}
