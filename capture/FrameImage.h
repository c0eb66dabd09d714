// CFrameImage: every picture the program holds. A 24-bit bottom-up DIB section whose pixels the
// program addresses directly, selected for the image's whole life into a memory DC of its own so
// that it can be drawn into and drawn from without per-call set-up.
//
// An image is empty (no header, no DC) or made. A made image may still lack pixels when the
// section could not be created; every pixel operation and drawing call then does nothing and
// reports failure, so nothing is ever read or written through the missing area. A finished clip
// frame may give up its DC and bitmap and keep its pixels in plain memory (KeepPixelsOnly).
//
// Threading: an image has no lock. The frame store's slots are written on the window thread
// under the store lock; clip images are written by the clip maker before the clip is shown.
#pragma once

#include <windows.h>

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

    // Releases what the image held and makes it anew: 1 made, 0 failed. After a failure the
    // header (and the DC, when it could be made) stay until the next Release, without pixels.
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
    BOOL Draw(HDC target, int x, int y);
    // Draws the image scaled into (left, top, right, bottom), optionally keeping its aspect and
    // centring it in the box. Returns what StretchDIBits returned (scan lines), 0 without pixels.
    int StretchDraw(HDC target, int left, int top, int right, int bottom, BOOL keepAspect, BOOL centre);
    // Adds the bitmap to the image list: the list's index for it, -1 on failure.
    int AddToImageList(CImageList* list);

    // Moves the pixels into plain memory and frees the DC and the bitmap, so that a finished clip
    // frame holds no GDI objects (a process may have only 10,000 of them on Windows, two per made
    // image). Every operation above still works; drawing into the image (captioning) needs a DC
    // and so comes first. TRUE when the image now holds plain pixels, FALSE (nothing changed)
    // when it has no pixels or the memory cannot be had.
    BOOL KeepPixelsOnly();

    // The image's memory DC; nullptr when empty or after KeepPixelsOnly.
    HDC GetDC() const { return m_hDC; }
    HBITMAP GetBitmap() const { return m_hBitmap; }
    BYTE* GetBits() const { return m_pBits; }
    const BITMAPINFO* GetHeader() const { return m_pHeader; }
    bool HasPixels() const { return m_pBits != nullptr; }
    int GetWidth() const { return m_pHeader ? m_pHeader->bmiHeader.biWidth : 0; }
    int GetHeight() const { return m_pHeader ? m_pHeader->bmiHeader.biHeight : 0; }
    int GetBitCount() const { return m_pHeader ? m_pHeader->bmiHeader.biBitCount : 0; }
    BOOL IsPackedBlend() const { return m_bPackedBlend; }

    // Images that hold a bitmap section at this moment, in the whole process.
    static int GetLiveImageCount();
    // Test hook standing in for the per-process GDI object quota, which on Windows (10,000
    // objects, two per image) is reached long before Wine's: while maxImages > 0, Create fails as
    // the platform would once that many images hold a section. 0 lifts the cap.
    static void SetImageLimitForTesting(int maxImages);

private:
    bool SameShape(const CFrameImage* other) const;

    HDC m_hDC = nullptr;
    HBITMAP m_hBitmap = nullptr;
    HGDIOBJ m_hOldBitmap = nullptr;
    BITMAPINFO* m_pHeader = nullptr;
    BYTE* m_pBits = nullptr;
    int m_nStretchMode = COLORONCOLOR;
    BOOL m_bPackedBlend = FALSE;
    bool m_bPlainPixels = false; // m_pBits is our own heap block, not the section's
};
