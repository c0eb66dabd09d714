// CFrameScaler: draws a grabbed 24-bit frame into a frame image at the image's size, taking for
// every destination pixel the source pixel whose centre lies nearest to the destination pixel's
// centre. That is the quality GDI's COLORONCOLOR stretching gives; a memory DC's default,
// BLACKONWHITE, instead ANDs every eliminated pixel into a kept one, which turns fine detail
// black (alternating red and green columns shrunk from 640 to 512 lose one column in four).
//
// The work is plain memory moves with no GDI: a table of source byte offsets for the destination
// columns is made once per source width and reused by every frame of that width; each destination
// row is gathered through that table four pixels at a time (four loads, two stores); a row whose
// source row is the one the row before used (when enlarging) is copied from that row, and a
// source as wide as the destination is copied row by row.
//
// Rectangles are (x, y, width, height) in picture coordinates, (0, 0) being the top-left pixel,
// for a bottom-up or a top-down source alike. The source rectangle must lie inside the frame;
// the destination rectangle is clipped to the image, with the scale it had.
//
// Threading: none of its own; the frame store uses it on the window thread under the store lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "FrameImage.h"

class CFrameScaler {
public:
    // Bytes a grabbed frame with this header occupies: stride x |height| with rows padded to 4
    // bytes. 0 for a header that does not describe a 24-bit BI_RGB frame.
    static size_t FrameBytesNeeded(const BITMAPINFOHEADER& header);

    // Makes room for destinations up to maxWidth pixels wide, so that Prepare allocates nothing
    // for them. Throws std::bad_alloc when the room cannot be had.
    void Reserve(int maxWidth);

    // Checks a frame against the image it is to be drawn into and sets up the tables for Draw.
    // FALSE (and Draw then draws nothing) when the header is not a 24-bit BI_RGB frame, its rows
    // need more than length bytes, a rectangle is empty, the source rectangle leaves the frame, or
    // the image has no 24-bit pixels.
    BOOL Prepare(const BITMAPINFOHEADER& header, size_t length, const RECT& src, const CFrameImage& image,
                 const RECT& dst);
    // Draws the frame at bits, prepared by the last Prepare, into image (the same shape).
    void Draw(const BYTE* bits, CFrameImage& image) const;

private:
    bool m_bReady = false;
    // The frame.
    long long m_srcStride = 0;
    int m_srcRows = 0;
    bool m_bTopDown = false;
    // The part of the destination rectangle inside the image, and where it starts in the source.
    int m_dstX0 = 0, m_dstX1 = 0, m_dstY0 = 0, m_dstY1 = 0;
    int m_dstX = 0, m_dstY = 0, m_dstW = 0, m_dstH = 0;
    int m_srcX = 0, m_srcY = 0, m_srcW = 0, m_srcH = 0;
    // Source byte offset (from the rectangle's row start) of each destination column x0..x1-1,
    // and how many leading columns may be read four bytes at a time without leaving the row.
    std::vector<uint32_t> m_columns;
    int m_nWideColumns = 0;
    bool m_bSameWidth = false;
    // What the column table was made for.
    int m_tableSrcW = -1, m_tableDstW = -1, m_tableDstX = 0, m_tableX0 = 0, m_tableX1 = 0;
    long long m_tableStride = -1;
};
