// CFrameArray: an owning array of frame images, used for the store's slots and for each clip.
// A clip is a CFrameArray (oldest frame first) plus, when sound was captured, the SoundBlock at
// the same index of the dialog's sound list.
#pragma once

#include "FrameImage.h"
#include "OwningArray.h"

class CFrameArray : public COwningArray<CFrameImage> {
public:
    // The frames a second the clip was recorded at, 0 when unknown. A clip is played and saved at
    // this rate, not at the capture format's current one: after a format change a 30-fps clip
    // would otherwise play at 15 fps, twice as long as its sound.
    int GetFrameRate() const { return m_nFrameRate; }
    void SetFrameRate(int fps) { m_nFrameRate = fps; }

    // Kept for the clip maker, which calls it once a clip is captioned: frames hold their pixels in
    // plain memory and no GDI objects from the start, so there is nothing to give up. Always TRUE.
    BOOL KeepPixelsOnly() const { return TRUE; }

private:
    int m_nFrameRate = 0;
};

// The dialog's clip list: clip i is list item i, shown with the number i + 1.
using CClipArray = COwningArray<CFrameArray>;
