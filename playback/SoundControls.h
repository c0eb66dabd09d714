// The two controls that shape what a playback sounds like: the volume slider and the sound-delay
// spin. Pure rules, so the dialog and the sound output agree on them and tests can pin them down.
#pragma once

#include <windows.h>

// The quietest buffer volume, in hundredths of a decibel (DirectSound's DSBVOLUME_MIN).
constexpr LONG kBufferVolumeMin = -10000;

// Buffer volume in hundredths of a decibel for a volume in percent: 0 % and below is silent
// (kBufferVolumeMin), 100 % and above is full volume (0), and in between the level falls as
// 2500 x log10(percent / 100), cut towards zero (50 % gives -752).
LONG BufferVolumeFromPercent(int nPercent);

// The sound delay moves in steps of 10 ms and stays within -2000..2000 ms.
constexpr int kSoundDelayStepMs = 10;
constexpr int kSoundDelayLimitMs = 2000;

// The delay after one notification of the spin control: a negative change (iDelta of UDN_DELTAPOS)
// adds one step, a zero or positive change takes one away; the result is clamped to the limits.
int StepSoundDelay(int nDelayMs, int nDelta);
