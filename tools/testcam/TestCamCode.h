// The picture the Zarvex Test Camera sends, shared by the camera (which paints it) and the tests
// (which read the sequence number back).
//
// Every frame is 24-bit RGB (bytes blue, green, red; rows padded to 4 bytes). In display order:
//
//   +----------------------------------------------------------------+
//   | W B W B | b23 b22 ... b0 (24 cells) | P | B W B |               <- code band: the top sixth
//   +----------------------------------------------------------------+
//   |  colour bars scrolling left, and a white square bouncing about  |  <- moving pattern
//   +----------------------------------------------------------------+
//
// The code band is the top TESTCAM_BAND_DIVISOR-th of the picture's height and is cut into
// TESTCAM_CELLS cells of equal width (cell i spans x = i*W/32 .. (i+1)*W/32). A cell is all white
// (255) or all black (0):
//   cells 0..3    start marker: white, black, white, black
//   cells 4..27   the frame's sequence number, 24 bits, most significant first; white = 1
//   cell 28       parity: white when the 24 bits hold an odd number of ones
//   cells 29..31  end marker: black, white, black
//
// Because every position is a fraction of the picture's size, the code survives scaling (down to
// about 2 pixels a cell: 64 pixels wide) and any reader can find it by sampling each cell's centre.
// The sequence number counts from 0 each time the camera starts streaming and wraps after 2^24.
#pragma once

#include <cstdint>

constexpr int TESTCAM_CELLS = 32;
constexpr int TESTCAM_BAND_DIVISOR = 6;
constexpr int TESTCAM_FIRST_BIT_CELL = 4;
constexpr int TESTCAM_BITS = 24;
constexpr int TESTCAM_PARITY_CELL = TESTCAM_FIRST_BIT_CELL + TESTCAM_BITS; // 28
constexpr std::uint32_t TESTCAM_SEQUENCE_MASK = (1u << TESTCAM_BITS) - 1;

// Marker cells and their colours (true = white).
constexpr int TESTCAM_MARKER_CELLS[] = {0, 1, 2, 3, 29, 30, 31};
constexpr bool TESTCAM_MARKER_WHITE[] = {true, false, true, false, false, true, false};

// Whether cell `cell` is white in the band of a frame with this sequence number.
inline bool TestCamCellIsWhite(int cell, std::uint32_t sequence) {
    for (int i = 0; i < 7; ++i)
        if (TESTCAM_MARKER_CELLS[i] == cell)
            return TESTCAM_MARKER_WHITE[i];
    sequence &= TESTCAM_SEQUENCE_MASK;
    if (cell == TESTCAM_PARITY_CELL) {
        int ones = 0;
        for (std::uint32_t v = sequence; v; v &= v - 1)
            ++ones;
        return (ones & 1) != 0;
    }
    const int bit = TESTCAM_BITS - 1 - (cell - TESTCAM_FIRST_BIT_CELL);
    return ((sequence >> bit) & 1u) != 0;
}

// Row stride of a 24-bit picture of this width.
inline int TestCamStride(int width) {
    return ((width * 24 + 31) / 32) * 4;
}
