// CFrameImage: every picture the program holds. A 24-bit bottom-up device-independent bitmap
// whose pixels sit in ordinary memory that the program addresses directly.
//
// An image holds no GDI object at rest. Windows gives a process 10,000 GDI objects, and the ring
// and every clip hold hundreds of images each, so an image that kept a memory DC and a DIB section
// for its whole life (two objects) let the object table, not memory, decide how many clips fit.
// Drawing from an image reads its pixels straight from memory (SetDIBitsToDevice, StretchDIBits);
// drawing into one goes through a CFrameDc (FrameDc.h), which lends it a DC only for as long as
// the drawing takes.
//
// An image is empty (no header) or made. A made image may still lack pixels when its memory
// could not be had; every pixel operation and drawing call then does nothing and reports failure,
// so nothing is ever read or written through the missing area.
//
// Threading: an image has no lock. The frame store's slots are written on the window thread
// under the store lock; clip images are written by the clip maker before the clip is shown.
#pragma once

#include <windows.h>

#include "UniqueAny.h"
#include "afx_imagelist.h"
#include "afx_object.h"

class CFrameImage : public CObject {
public:
    // Bytes of the header block: the info header and 256 palette entries.
    static constexpr size_t kHeaderBlockSize = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);

    CFrameImage();
    // Creates the image at once; a failure is not reported (see HasPixels).
    CFrameImage(int width, int height, int bitCount);
    ~CFrameImage() override;
    CFrameImage(const CFrameImage&) = delete;
    CFrameImage& operator=(const CFrameImage&) = delete;

    // Releases what the image held and makes it anew, black: 1 made, 0 failed. After a failure
    // for want of memory the header stays until the next Release, without pixels. Neither may be
    // called while a CFrameDc is open on the image.
    BOOL Create(int width, int height, int bitCount);
    void Release();

    // Pixel bytes: biSizeImage, or bit depth x height x width / 8 when that is 0; 0 when empty.
    DWORD GetImageSize() const;
    // Copies this image's pixel bytes into a destination of the same size and depth: 1 done,
    // 0 when either image has no pixels or their shapes differ (nothing is written then).
    BOOL CopyTo(CFrameImage* dest) const;
    // Sets every pixel byte to the low 8 bits of value.
    void Fill(int value);
    // Mixes this image into dest: percent 0 makes dest a copy of this image, 100 leaves it as it
    // was (clamped to 0..100). 1 done, 0 when either has no pixels or their shapes differ.
    BOOL BlendInto(CFrameImage* dest, int percent) const;
    // Copies the whole image unscaled onto target at (x, y).
    BOOL Draw(HDC target, int x, int y) const;
    // Draws the image scaled into (left, top, right, bottom), optionally keeping its aspect and
    // centring it in the box. Returns what StretchDIBits returned (scan lines), 0 without pixels.
    int StretchDraw(HDC target, int left, int top, int right, int bottom, BOOL keepAspect, BOOL centre) const;
    // Adds the picture to the image list through a bitmap made for the moment: the list's index
    // for it, -1 on failure.
    int AddToImageList(CImageList* list) const;

    // Kept for the clip maker, which calls it once a clip is captioned: pixels always sit in plain
    // memory now, so there is nothing left to give up. TRUE when the image has pixels.
    BOOL KeepPixelsOnly() const { return HasPixels(); }

    BYTE* GetBits() const { return m_pBits; }
    const BITMAPINFO* GetHeader() const { return m_pHeader; }
    bool HasPixels() const { return m_pBits != nullptr; }
    int GetWidth() const { return m_pHeader ? m_pHeader->bmiHeader.biWidth : 0; }
    int GetHeight() const { return m_pHeader ? m_pHeader->bmiHeader.biHeight : 0; }
    int GetBitCount() const { return m_pHeader ? m_pHeader->bmiHeader.biBitCount : 0; }
    BOOL IsPackedBlend() const { return m_bPackedBlend; }

    // Images that hold pixel memory, in the whole process.
    static int GetLiveImageCount();
    // GDI objects held for frame images at this moment, in the whole process: the DC and the DIB
    // section of each open CFrameDc, the bitmap AddToImageList makes while the list copies it.
    static int GetGdiObjectCount();
    // Test hook standing in for memory running out: while maxImages > 0, Create fails as an
    // allocation would once that many images hold pixels. 0 lifts the cap.
    static void SetImageLimitForTesting(int maxImages);
    // Test hook standing in for the per-process GDI object quota, which on Windows (10,000) is
    // reached long before Wine's: while maxObjects > 0, a DC or bitmap for an image is refused as
    // the platform would refuse it once images hold that many objects. 0 lifts the cap.
    static void SetGdiObjectLimitForTesting(int maxObjects);

private:
    friend class CFrameDc;
    // Counts objects about to be made for an image, unless the test cap is reached.
    static bool ReserveGdiObjects(int count);
    static void ReturnGdiObjects(int count);

    bool SameShape(const CFrameImage* other) const;

    win::UniqueGlobal m_header;        // the fixed 1064-byte header block
    win::UniqueVirtualMemory m_pixels; // the image's own pixel memory, zero when committed
    BITMAPINFO* m_pHeader = nullptr;   // m_header's address
    BYTE* m_pBits = nullptr;           // m_pixels, or the section of an open CFrameDc
    int m_nStretchMode = COLORONCOLOR; // how StretchDraw stretches: nearest pixel, never ANDed
    BOOL m_bPackedBlend = FALSE;
};
