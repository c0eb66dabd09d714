// CFrameArray: an owning array of frame images, used for the store's slots and for each clip.
// A clip is a CFrameArray (oldest frame first) plus, when sound was captured, the SoundBlock at
// the same index of the dialog's sound list.
#pragma once

#include "FrameImage.h"
#include "OwningArray.h"

class CFrameArray : public COwningArray<CFrameImage> {
public:
    // Lets every frame give up its DC and bitmap once nothing more is drawn into the clip (after
    // captioning): the clip then holds no GDI objects. TRUE when every frame with pixels did.
    BOOL KeepPixelsOnly() {
        BOOL all = TRUE;
        for (int i = 0; i < GetSize(); ++i)
            if (CFrameImage* frame = GetAt(i))
                if (frame->HasPixels() && !frame->KeepPixelsOnly())
                    all = FALSE;
        return all;
    }
};

// The dialog's clip list: clip i is list item i + 1.
using CClipArray = COwningArray<CFrameArray>;
