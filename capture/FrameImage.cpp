#include "FrameImage.h"

#include <emmintrin.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "ProcessorSwitch.h"

namespace {

std::atomic<int> g_liveImages{0};
std::atomic<int> g_imageLimit{0};
std::atomic<int> g_gdiObjects{0};
std::atomic<int> g_gdiObjectLimit{0};

// Adds count to counter unless that would pass limit (0: no limit).
bool Reserve(std::atomic<int>& counter, const std::atomic<int>& limit, int count) {
    const int cap = limit.load();
    int held = counter.load();
    do {
        if (cap > 0 && held + count > cap)
            return false;
    } while (!counter.compare_exchange_weak(held, held + count));
    return true;
}

bool IsValidBitCount(int bitCount) {
    switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

// Plain path: each byte is (S x (100 - p) + D x p) / 100, at most 255.
void BlendRowsPlain(const BYTE* src, BYTE* dst, size_t rowLength, int rows, int percent) {
    const int keep = 100 - percent;
    for (int r = 0; r < rows; ++r, src += rowLength, dst += rowLength) {
        for (size_t i = 0; i < rowLength; ++i) {
            const int v = (src[i] * keep + dst[i] * percent) / 100;
            dst[i] = static_cast<BYTE>(v >= 255 ? 255 : v);
        }
    }
}

// Packed path: each byte is (S x (128 - w) + D x w) >> 7 in 16-bit lanes, saturated to a byte.
// The largest lane value is 255 x 128 = 32640, so neither the products nor their sum wrap, and
// sixteen bytes at a time give the same bytes as the four-byte groups the path is defined by.
// Per row the groups cover the row length truncated to a multiple of 4, but at least one group;
// the 1 to 3 bytes left at a row's end keep the destination's value.
void BlendRowsPacked(const BYTE* src, BYTE* dst, size_t rowLength, int rows, int weight) {
    size_t handled = rowLength & ~static_cast<size_t>(3);
    if (handled == 0)
        handled = 4;
    const __m128i srcWeight = _mm_set1_epi16(static_cast<short>(128 - weight));
    const __m128i dstWeight = _mm_set1_epi16(static_cast<short>(weight));
    const __m128i zero = _mm_setzero_si128();
    for (int r = 0; r < rows; ++r, src += rowLength, dst += rowLength) {
        size_t i = 0;
        for (; i + 16 <= handled; i += 16) {
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
            __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(s, zero), srcWeight),
                                       _mm_mullo_epi16(_mm_unpacklo_epi8(d, zero), dstWeight));
            __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(s, zero), srcWeight),
                                       _mm_mullo_epi16(_mm_unpackhi_epi8(d, zero), dstWeight));
            lo = _mm_srli_epi16(lo, 7);
            hi = _mm_srli_epi16(hi, 7);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
        }
        for (; i < handled; ++i)
            dst[i] = static_cast<BYTE>((src[i] * (128 - weight) + dst[i] * weight) >> 7);
    }
}

} // namespace

CFrameImage::CFrameImage() : m_bPackedBlend(IsPackedBlendSelected()) {}

CFrameImage::CFrameImage(int width, int height, int bitCount) : CFrameImage() {
    (void)Create(width, height, bitCount); // callers look at HasPixels when they care
}

CFrameImage::~CFrameImage() {
    Release();
}

int CFrameImage::GetLiveImageCount() {
    return g_liveImages.load();
}

int CFrameImage::GetGdiObjectCount() {
    return g_gdiObjects.load();
}

void CFrameImage::SetImageLimitForTesting(int maxImages) {
    g_imageLimit.store(maxImages > 0 ? maxImages : 0);
}

void CFrameImage::SetGdiObjectLimitForTesting(int maxObjects) {
    g_gdiObjectLimit.store(maxObjects > 0 ? maxObjects : 0);
}

bool CFrameImage::ReserveGdiObjects(int count) {
    return Reserve(g_gdiObjects, g_gdiObjectLimit, count);
}

void CFrameImage::ReturnGdiObjects(int count) {
    g_gdiObjects -= count;
}

BOOL CFrameImage::Create(int width, int height, int bitCount) {
    Release();
    if (width <= 0 || height <= 0 || !IsValidBitCount(bitCount))
        return FALSE;
    // A positive height is what makes the rows bottom-up; the pixel area must fit in a DWORD size.
    const long long stride = ((static_cast<long long>(width) * bitCount + 31) / 32) * 4;
    const long long size = stride * height;
    if (size > INT_MAX)
        return FALSE;

    m_header.reset(GlobalAlloc(GPTR, kHeaderBlockSize));
    m_pHeader = static_cast<BITMAPINFO*>(m_header.get()); // a fixed block's handle is its address
    if (!m_pHeader)
        return FALSE;
    BITMAPINFOHEADER& h = m_pHeader->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(size);
    // A grey ramp; it only matters for 8-bit images, which the program does not make.
    RGBQUAD* palette =
        reinterpret_cast<RGBQUAD*>(reinterpret_cast<BYTE*>(m_pHeader) + sizeof(BITMAPINFOHEADER));
    for (int i = 0; i < 256; ++i) {
        palette[i].rgbBlue = palette[i].rgbGreen = palette[i].rgbRed = static_cast<BYTE>(i);
        palette[i].rgbReserved = 0;
    }

    if (!Reserve(g_liveImages, g_imageLimit, 1))
        return FALSE;
    // Fresh committed pages read as zero, so a new image is black without being written: a cut
    // or a rebuild touches only the memory it fills.
    m_pixels.reset(
        VirtualAlloc(nullptr, static_cast<SIZE_T>(size), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!m_pixels) {
        --g_liveImages;
        return FALSE;
    }
    m_pBits = static_cast<BYTE*>(m_pixels.get());
    return TRUE;
}

void CFrameImage::Release() {
    if (m_pixels)
        --g_liveImages;
    m_pixels.reset();
    m_pBits = nullptr;
    m_header.reset();
    m_pHeader = nullptr;
}

DWORD CFrameImage::GetImageSize() const {
    if (!m_pHeader)
        return 0;
    const BITMAPINFOHEADER& h = m_pHeader->bmiHeader;
    if (h.biSizeImage != 0)
        return h.biSizeImage;
    return static_cast<DWORD>(static_cast<long long>(h.biBitCount) * h.biHeight * h.biWidth / 8);
}

bool CFrameImage::SameShape(const CFrameImage* other) const {
    return other && m_pBits && other->m_pBits && GetWidth() == other->GetWidth() &&
           GetHeight() == other->GetHeight() && GetBitCount() == other->GetBitCount() &&
           GetImageSize() == other->GetImageSize();
}

BOOL CFrameImage::CopyTo(CFrameImage* dest) const {
    if (!SameShape(dest))
        return FALSE;
    if (dest != this)
        std::memcpy(dest->m_pBits, m_pBits, GetImageSize());
    return TRUE;
}

void CFrameImage::Fill(int value) {
    if (m_pBits)
        std::memset(m_pBits, value & 0xFF, GetImageSize());
}

BOOL CFrameImage::BlendInto(CFrameImage* dest, int percent) const {
    if (!SameShape(dest))
        return FALSE;
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    // Rows of width x bytes-per-pixel laid end to end; for every size the program makes this is
    // the stride, and for any other it stays inside the pixel area (the stride is never shorter).
    const BITMAPINFOHEADER& h = m_pHeader->bmiHeader;
    const size_t rowLength = static_cast<size_t>(h.biWidth) * h.biBitCount / 8;
    if (m_bPackedBlend)
        BlendRowsPacked(m_pBits, dest->m_pBits, rowLength, h.biHeight, percent * 128 / 100);
    else
        BlendRowsPlain(m_pBits, dest->m_pBits, rowLength, h.biHeight, percent);
    return TRUE;
}

BOOL CFrameImage::Draw(HDC target, int x, int y) const {
    if (!m_pBits)
        return FALSE;
    // The same unscaled copy a BitBlt from a DC of the image's own would make, read from memory.
    return SetDIBitsToDevice(target, x, y, GetWidth(), GetHeight(), 0, 0, 0, GetHeight(), m_pBits, m_pHeader,
                             DIB_RGB_COLORS) != 0;
}

int CFrameImage::StretchDraw(HDC target, int left, int top, int right, int bottom, BOOL keepAspect,
                             BOOL centre) const {
    if (!m_pBits)
        return 0;
    SetStretchBltMode(target, m_nStretchMode);

    const long long w = static_cast<long long>(right) - left;
    const long long h = static_cast<long long>(bottom) - top;
    const long long iw = GetWidth();
    const long long ih = GetHeight();
    long long dw = w;
    long long dh = h;
    if (keepAspect) {
        if (iw * h > ih * w) {
            dh = ih * w / iw; // fits the width
            dw = w;
        } else {
            dw = iw * h / ih; // fits the height
            dh = h;
        }
    }
    long long x = left;
    long long y = top;
    if (centre) {
        x = left + (w - dw) / 2;
        y = top + (h - dh) / 2;
    }
    return StretchDIBits(target, static_cast<int>(x), static_cast<int>(y), static_cast<int>(dw),
                         static_cast<int>(dh), 0, 0, static_cast<int>(iw), static_cast<int>(ih), m_pBits,
                         m_pHeader, DIB_RGB_COLORS, SRCCOPY);
}

int CFrameImage::AddToImageList(CImageList* list) const {
    if (!m_pBits || !list || !list->m_hImageList)
        return -1;
    // The list copies the bitmap it is given, so a section of the picture made for the call and
    // deleted after it is all it needs.
    if (!ReserveGdiObjects(1))
        return -1;
    void* bits = nullptr;
    win::UniqueBitmap bitmap(CreateDIBSection(nullptr, m_pHeader, DIB_RGB_COLORS, &bits, nullptr, 0));
    int index = -1;
    if (bitmap && bits) {
        std::memcpy(bits, m_pBits, GetImageSize());
        index = ImageList_Add(list->m_hImageList, bitmap.get(), nullptr);
    }
    bitmap.reset();
    ReturnGdiObjects(1);
    return index;
}
