// Reads the sequence number back from a Zarvex Test Camera frame (layout in TestCamCode.h).
//
// Works on any 24-bit RGB picture the frame was copied or scaled into: every position is taken as
// a fraction of the picture's size, and each cell is judged by the mean brightness of a box around
// its centre, so soft edges from scaling do not matter.
#pragma once

#include <cstdint>

#include "TestCamCode.h"

// pBits: 24-bit pixels, rows padded to 4 bytes; bottom-up when height > 0 (a DIB, a DirectShow
// RGB24 sample), top-down when height < 0. Returns false when the band does not hold a valid code
// (markers or parity wrong, or a cell neither clearly white nor clearly black).
inline bool TestCamDecodeSequence(const unsigned char* pBits, int width, int height,
                                  std::uint32_t* pSequence) {
    const bool bottomUp = height > 0;
    const int h = bottomUp ? height : -height;
    if (!pBits || width < TESTCAM_CELLS || h < TESTCAM_BAND_DIVISOR)
        return false;
    const int stride = TestCamStride(width);
    const int band = h / TESTCAM_BAND_DIVISOR;

    // Mean brightness (0..255) of the middle half of a cell, over the middle half of the band.
    const auto cellLevel = [&](int cell) {
        const int x0 = cell * width / TESTCAM_CELLS, x1 = (cell + 1) * width / TESTCAM_CELLS;
        const int cx0 = x0 + (x1 - x0) / 4, cx1 = x1 - (x1 - x0) / 4 > cx0 ? x1 - (x1 - x0) / 4 : cx0 + 1;
        const int y0 = band / 4, y1 = band - band / 4 > y0 ? band - band / 4 : y0 + 1;
        long long sum = 0, n = 0;
        for (int y = y0; y < y1; ++y) {
            const int row = bottomUp ? h - 1 - y : y;
            const unsigned char* p = pBits + static_cast<long long>(row) * stride;
            for (int x = cx0; x < cx1; ++x) {
                sum += p[x * 3] + p[x * 3 + 1] + p[x * 3 + 2];
                n += 3;
            }
        }
        return n ? static_cast<int>(sum / n) : 0;
    };

    bool white[TESTCAM_CELLS];
    for (int cell = 0; cell < TESTCAM_CELLS; ++cell) {
        const int level = cellLevel(cell);
        if (level > 80 && level < 175)
            return false; // not a code cell: the picture is something else
        white[cell] = level >= 175;
    }
    std::uint32_t sequence = 0;
    for (int i = 0; i < TESTCAM_BITS; ++i)
        sequence = (sequence << 1) | (white[TESTCAM_FIRST_BIT_CELL + i] ? 1u : 0u);
    for (int cell = 0; cell < TESTCAM_CELLS; ++cell)
        if (white[cell] != TestCamCellIsWhite(cell, sequence))
            return false; // a marker or the parity does not match
    if (pSequence)
        *pSequence = sequence;
    return true;
}
