#include "TestCamPainter.h"

#include <cstring>

#include "TestCamCode.h"

namespace {

struct Bgr {
    unsigned char b, g, r;
};

// Eight bars a person can tell apart at a glance: white, yellow, cyan, green, magenta, red, blue,
// grey.
const Bgr kBars[8] = {{230, 230, 230}, {0, 230, 230}, {230, 230, 0}, {0, 200, 0},
                      {200, 0, 200},   {0, 0, 220},   {220, 0, 0},   {110, 110, 110}};

// Row y in display order (0 = top) of a bottom-up picture.
unsigned char* DisplayRow(unsigned char* pBits, int stride, int height, int y) {
    return pBits + static_cast<long long>(height - 1 - y) * stride;
}

void FillSpan(unsigned char* pRow, int x0, int x1, Bgr c) {
    for (int x = x0; x < x1; ++x) {
        pRow[x * 3 + 0] = c.b;
        pRow[x * 3 + 1] = c.g;
        pRow[x * 3 + 2] = c.r;
    }
}

} // namespace

void TestCamPaintFrame(unsigned char* pBits, int width, int height, std::uint32_t sequence) {
    const int stride = TestCamStride(width);
    const int band = height / TESTCAM_BAND_DIVISOR > 0 ? height / TESTCAM_BAND_DIVISOR : 1;

    // The code band: one row painted, then copied down the band.
    unsigned char* pFirst = DisplayRow(pBits, stride, height, 0);
    std::memset(pFirst, 0, static_cast<size_t>(stride));
    for (int cell = 0; cell < TESTCAM_CELLS; ++cell) {
        if (!TestCamCellIsWhite(cell, sequence))
            continue;
        FillSpan(pFirst, cell * width / TESTCAM_CELLS, (cell + 1) * width / TESTCAM_CELLS, {255, 255, 255});
    }
    for (int y = 1; y < band; ++y)
        std::memcpy(DisplayRow(pBits, stride, height, y), pFirst, static_cast<size_t>(stride));

    // The moving pattern: bars scroll left by a 64th of the width per frame...
    const int barWidth = width / 8 > 0 ? width / 8 : 1;
    const int shift = static_cast<int>((sequence * static_cast<std::uint32_t>(width > 64 ? width / 64 : 1)) %
                                       static_cast<std::uint32_t>(barWidth * 8));
    if (band < height) {
        unsigned char* pBarRow = DisplayRow(pBits, stride, height, band);
        std::memset(pBarRow, 0, static_cast<size_t>(stride));
        for (int x = 0; x < width; ++x) {
            const Bgr c = kBars[((x + shift) / barWidth) % 8];
            pBarRow[x * 3 + 0] = c.b;
            pBarRow[x * 3 + 1] = c.g;
            pBarRow[x * 3 + 2] = c.r;
        }
        for (int y = band + 1; y < height; ++y)
            std::memcpy(DisplayRow(pBits, stride, height, y), pBarRow, static_cast<size_t>(stride));
    }

    // ...and a black-edged white square bounces below the band, one step per frame.
    const int side = (height - band) / 4 > 2 ? (height - band) / 4 : 2;
    const int rangeX = width - side > 1 ? width - side : 1;
    const int rangeY = height - band - side > 1 ? height - band - side : 1;
    const int stepX = width / 80 > 0 ? width / 80 : 1;
    const int stepY = height / 90 > 0 ? height / 90 : 1;
    const auto bounce = [](long long pos, int range) {
        const long long period = 2LL * range;
        const long long p = pos % period;
        return static_cast<int>(p < range ? p : period - p);
    };
    const int sx = bounce(static_cast<long long>(sequence) * stepX, rangeX);
    const int sy = band + bounce(static_cast<long long>(sequence) * stepY, rangeY);
    for (int y = sy; y < sy + side && y < height; ++y) {
        unsigned char* pRow = DisplayRow(pBits, stride, height, y);
        const bool edge = y == sy || y == sy + side - 1;
        FillSpan(pRow, sx, sx + side < width ? sx + side : width, edge ? Bgr{0, 0, 0} : Bgr{255, 255, 255});
        if (!edge) {
            FillSpan(pRow, sx, sx + 1, {0, 0, 0});
            const int last = (sx + side < width ? sx + side : width) - 1;
            FillSpan(pRow, last, last + 1, {0, 0, 0});
        }
    }
}
