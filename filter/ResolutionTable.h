// ResolutionTable: the seven output sizes the virtual camera offers, in the order the "SelectPixel"
// setting, the capabilities and the property page's list all number them.
#pragma once

#include <windows.h>

constexpr int kResolutionCount = 7;

struct Resolution {
    int width;
    int height;
};

extern const Resolution ResolutionTable[kResolutionCount];

// The table index of this size, or -1.
int FindResolution(LONG width, LONG height);
// True for a table index.
inline bool IsResolutionIndex(int index) {
    return index >= 0 && index < kResolutionCount;
}
