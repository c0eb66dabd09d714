#include "ResolutionTable.h"

const Resolution ResolutionTable[kResolutionCount] = {
    {160, 120}, {320, 180}, {320, 240}, {512, 288}, {512, 384}, {640, 360}, {640, 480},
};

int FindResolution(LONG width, LONG height) {
    for (int i = 0; i < kResolutionCount; ++i)
        if (ResolutionTable[i].width == width && ResolutionTable[i].height == height)
            return i;
    return -1;
}
