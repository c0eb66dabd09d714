// CFrameDc: lends a frame image a memory DC for as long as it lives, so that GDI can draw into the
// image (a thumbnail, caption text) and read from it.
//
// Frame images keep their pixels in plain memory and hold no GDI object at rest (FrameImage.h).
// A CFrameDc makes a DIB section of the image's shape, copies the pixels into it, selects it into
// a memory DC of its own, and points the image's pixels at the section while it is open, so that
// the image's own operations (CopyTo, Fill, GetBits) and GDI's drawing work on the same bytes.
// When it closes it flushes GDI's queue, copies the pixels back into the image's memory, and frees
// the section and the DC. It costs two copies of the picture and two GDI objects while it lives.
//
// Several may be open on one image as long as they close in the reverse order; the image must
// not be remade or released meanwhile. Without pixels, or when the platform (or the test cap on
// GDI objects) refuses the DC or the section, there is no DC and the image is left as it was.
//
// Threading: like the image, none; one thread uses an image and its DC at a time.
#pragma once

#include <windows.h>

#include <optional>

#include "FrameImage.h"
#include "SelectObject.h"
#include "UniqueAny.h"

class CFrameDc {
public:
    explicit CFrameDc(CFrameImage& image) noexcept;
    ~CFrameDc();
    CFrameDc(const CFrameDc&) = delete;
    CFrameDc& operator=(const CFrameDc&) = delete;

    // The DC drawing into the image; nullptr when none could be made.
    HDC get() const noexcept { return m_bOpen ? m_dc.get() : nullptr; }
    explicit operator bool() const noexcept { return m_bOpen; }
    // The DIB section selected into the DC while it is open.
    HBITMAP GetBitmap() const noexcept { return m_bOpen ? m_bitmap.get() : nullptr; }

private:
    CFrameImage& m_image;
    BYTE* m_pOuter = nullptr; // where the image's pixels were before the DC opened
    bool m_bReserved = false;
    bool m_bOpen = false;
    // Declared in the order they are made, so that they go in reverse: the section is put back
    // out of the DC before it is deleted, and the DC goes last.
    win::UniqueDc m_dc;
    win::UniqueBitmap m_bitmap;
    std::optional<win::SelectGuard> m_select;
};
