// Paints the Zarvex Test Camera's frames (layout in TestCamCode.h).
#pragma once

#include <cstdint>

// Paints frame `sequence` into a bottom-up 24-bit picture of width x height pixels (rows padded to
// 4 bytes). Width and height must be positive.
void TestCamPaintFrame(unsigned char* pBits, int width, int height, std::uint32_t sequence);
