#include "FrameScaler.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

long long Stride24(long long width) {
    return (width * 24 + 31) / 32 * 4;
}

// The source pixel nearest to the centre of destination pixel i when `from` pixels are drawn
// over `to`: the one whose span contains (i + 1/2) x from / to.
int NearestSource(long long i, long long from, long long to) {
    return static_cast<int>((2 * i + 1) * from / (2 * to));
}

// One destination row: pixel i comes from src + columns[i]. Pixels are read four bytes at a time
// (the fourth byte is the next source pixel's, and is dropped); four of them are packed into
// twelve bytes and written as one eight-byte and one four-byte store. The first `wide` pixels may
// be read that way; the rest, whose fourth byte would lie past the source row, move three bytes.
void ScaleRow(const BYTE* src, BYTE* dst, const uint32_t* columns, int wide, int count) {
    int i = 0;
    for (; i + 4 <= wide; i += 4) {
        uint32_t a, b, c, d;
        std::memcpy(&a, src + columns[i], 4);
        std::memcpy(&b, src + columns[i + 1], 4);
        std::memcpy(&c, src + columns[i + 2], 4);
        std::memcpy(&d, src + columns[i + 3], 4);
        const uint64_t low = (a & 0xFFFFFFu) | (static_cast<uint64_t>(b & 0xFFFFFFu) << 24) |
                             (static_cast<uint64_t>(c & 0xFFFFu) << 48);
        const uint32_t high = ((c >> 16) & 0xFFu) | (d << 8);
        std::memcpy(dst + 3 * i, &low, 8);
        std::memcpy(dst + 3 * i + 8, &high, 4);
    }
    for (; i < count; ++i)
        std::memcpy(dst + 3 * i, src + columns[i], 3);
}

} // namespace

size_t CFrameScaler::FrameBytesNeeded(const BITMAPINFOHEADER& header) {
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || header.biBitCount != 24 ||
        header.biCompression != BI_RGB || header.biWidth <= 0 || header.biHeight == 0 ||
        header.biHeight == LONG_MIN)
        return 0;
    // biSizeImage is not trusted: the grabber writes width x 3 x height there, which is short of
    // the padded rows it actually delivers whenever width x 3 is not a multiple of 4.
    const unsigned long long stride = static_cast<unsigned long long>(Stride24(header.biWidth));
    const unsigned long long rows = header.biHeight < 0 ? -static_cast<long long>(header.biHeight)
                                                        : static_cast<long long>(header.biHeight);
    const unsigned long long bytes = stride * rows;
    return bytes > SIZE_MAX ? 0 : static_cast<size_t>(bytes);
}

void CFrameScaler::Reserve(int maxWidth) {
    if (maxWidth > 0)
        m_columns.reserve(static_cast<size_t>(maxWidth));
}

BOOL CFrameScaler::Prepare(const BITMAPINFOHEADER& header, size_t length, const RECT& src,
                           const CFrameImage& image, const RECT& dst) {
    m_bReady = false;
    const size_t needed = FrameBytesNeeded(header);
    if (needed == 0 || needed > length)
        return FALSE;
    if (!image.HasPixels() || image.GetBitCount() != 24)
        return FALSE;
    const long long width = header.biWidth;
    const long long rows = header.biHeight < 0 ? -static_cast<long long>(header.biHeight) : header.biHeight;
    // RECT fields here are x, y, width, height.
    if (src.left < 0 || src.top < 0 || src.right <= 0 || src.bottom <= 0 ||
        static_cast<long long>(src.left) + src.right > width ||
        static_cast<long long>(src.top) + src.bottom > rows || dst.right <= 0 || dst.bottom <= 0)
        return FALSE;

    m_srcStride = Stride24(width);
    m_srcRows = static_cast<int>(rows);
    m_bTopDown = header.biHeight < 0;
    m_srcX = src.left;
    m_srcY = src.top;
    m_srcW = src.right;
    m_srcH = src.bottom;
    m_dstX = dst.left;
    m_dstY = dst.top;
    m_dstW = dst.right;
    m_dstH = dst.bottom;
    m_dstX0 = static_cast<int>(std::max<long long>(dst.left, 0));
    m_dstY0 = static_cast<int>(std::max<long long>(dst.top, 0));
    m_dstX1 =
        static_cast<int>(std::min<long long>(static_cast<long long>(dst.left) + dst.right, image.GetWidth()));
    m_dstY1 = static_cast<int>(
        std::min<long long>(static_cast<long long>(dst.top) + dst.bottom, image.GetHeight()));
    if (m_dstX0 >= m_dstX1 || m_dstY0 >= m_dstY1) {
        m_bReady = true; // nothing of the rectangle falls on the image
        return TRUE;
    }

    if (m_tableSrcW != m_srcW || m_tableDstW != m_dstW || m_tableDstX != m_dstX || m_tableX0 != m_dstX0 ||
        m_tableX1 != m_dstX1 || m_tableStride != m_srcStride || m_columns.empty()) {
        const int count = m_dstX1 - m_dstX0;
        try {
            m_columns.resize(static_cast<size_t>(count));
        } catch (const std::bad_alloc&) {
            m_tableSrcW = -1;
            return FALSE; // a destination wider than Reserve allowed for, and no memory for it
        }
        int wide = 0;
        for (int k = 0; k < count; ++k) {
            const long long i = static_cast<long long>(m_dstX0 - m_dstX) + k;
            const long long offset = 3LL * (m_srcX + NearestSource(i, m_srcW, m_dstW));
            m_columns[static_cast<size_t>(k)] = static_cast<uint32_t>(offset);
            if (offset + 4 <= m_srcStride)
                wide = k + 1;
        }
        // Offsets only grow along the row, so the pixels that may be read four bytes at a time
        // are a leading run: all but those taken from the row's last pixel when it ends flush
        // with the stride.
        m_nWideColumns = wide;
        m_bSameWidth = m_srcW == m_dstW;
        m_tableSrcW = m_srcW;
        m_tableDstW = m_dstW;
        m_tableDstX = m_dstX;
        m_tableX0 = m_dstX0;
        m_tableX1 = m_dstX1;
        m_tableStride = m_srcStride;
    }
    m_bReady = true;
    return TRUE;
}

void CFrameScaler::Draw(const BYTE* bits, CFrameImage& image) const {
    if (!m_bReady || !bits || !image.HasPixels() || m_dstX0 >= m_dstX1)
        return;
    const long long dstStride = Stride24(image.GetWidth());
    const int imageRows = image.GetHeight();
    const int count = m_dstX1 - m_dstX0;
    const size_t rowBytes = static_cast<size_t>(count) * 3;
    const BYTE* previousRow = nullptr;
    int previousSource = -1;
    for (int y = m_dstY0; y < m_dstY1; ++y) {
        const int ys = m_srcY + NearestSource(y - m_dstY, m_srcH, m_dstH);
        const long long memoryRow = m_bTopDown ? ys : m_srcRows - 1 - ys;
        const BYTE* srcRow = bits + memoryRow * m_srcStride;
        BYTE* dstRow = image.GetBits() + (imageRows - 1 - y) * dstStride + 3LL * m_dstX0;
        if (ys == previousSource)
            std::memcpy(dstRow, previousRow, rowBytes);
        else if (m_bSameWidth)
            std::memcpy(dstRow, srcRow + m_columns[0], rowBytes);
        else
            ScaleRow(srcRow, dstRow, m_columns.data(), m_nWideColumns, count);
        previousRow = dstRow;
        previousSource = ys;
    }
}
