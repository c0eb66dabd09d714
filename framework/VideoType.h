// Uncompressed 24-bit RGB video types, the one shape every RGB pin of a filter module describes its
// frames with: the bitmap header, the complete media type around it, and a checked way to read the
// VIDEOINFOHEADER back out of any type a peer or client hands in.
#pragma once

#include "MediaType.h"

// The header of a 24-bit BI_RGB frame of this size (a positive height means bottom-up rows):
// biSize, the size, one plane, biSizeImage of the padded rows; every other field zero.
BITMAPINFOHEADER Rgb24BitmapHeader(LONG width, LONG height);

// MEDIATYPE_Video / the subtype the header describes (RGB24) / FORMAT_VideoInfo, fixed-size samples
// of biSizeImage bytes, no temporal compression. The VIDEOINFOHEADER is zero apart from
// AvgTimePerFrame and the bitmap header: clients build their own types from this one with the other
// fields zeroed, and a sample grabber compares the whole block. E_OUTOFMEMORY when the format block
// cannot be made.
HRESULT BuildRgb24VideoType(LONG width, LONG height, REFERENCE_TIME rtAvgTimePerFrame, CMediaType* pmt);

// The VIDEOINFOHEADER of a type, or null when it has none that is whole: another format type, no
// format block, or one shorter than the structure. Check this before reading any field of it.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt);
