// The placeholder picture the virtual camera shows while the capture program is not running:
// "Zarvex" in white, Arial height 60 bold, centred on black.
#pragma once

#include <windows.h>

#include <vector>

// Renders the picture at width x height as 24-bit bottom-up rows padded to 4 bytes (the channel's
// pixel layout) into *pBits, resized to the picture's size. False, with *pBits untouched, for a
// size that is not positive or whose bitmap GDI cannot make.
bool RenderPlaceholderPicture(int width, int height, std::vector<BYTE>* pBits);
