// VIDEOINFOHEADER, the record a video format is kept in, for code that must not see the DirectShow
// interface headers (the dialog, which also reaches the sound capture's DirectSound world).
#pragma once

#include <windows.h>

// amvideo.h uses REFERENCE_TIME without declaring it; strmif.h, which does, would bring the
// DirectShow interfaces along. Repeating the platform's typedef is harmless where both meet.
typedef LONGLONG REFERENCE_TIME;
#include <amvideo.h>

#include "afx_coll.h"
#include "afx_string.h"

// The formats of one device, in the order it reports them, each a whole 88-byte record.
using CVideoFormatArray = CGrowableArray<VIDEOINFOHEADER>;

// The four bytes of biCompression as characters, or "RGB " for an uncompressed format (0), then a
// zero byte.
void FourCCText(const VIDEOINFOHEADER& format, char text[5]);

// The format's line in the format list: "%dx%dx%d %df %s" (width, height, bits per pixel, whole
// frames per second 10000000 / AvgTimePerFrame, FourCCText) when it has a frame time, else
// "%dx%dx%d %s". An uncompressed 640 x 480 format at 333333 is "640x480x24 30f RGB ".
CString VideoFormatText(const VIDEOINFOHEADER& format);

// The frame rate the ring is sized for: 1000 / (AvgTimePerFrame / 10000), both divisions whole
// (333333 gives 30, 666666 gives 15, 333667 gives 30), so it may differ by one from the line's
// rate. previous when the format has no frame time, or one below a millisecond (whose whole
// milliseconds are 0 and cannot be divided by). At least 1 for a format slower than one frame a
// second, so that a slow camera still gets a ring.
int CaptureFrameRate(REFERENCE_TIME avgTimePerFrame, int previous);
