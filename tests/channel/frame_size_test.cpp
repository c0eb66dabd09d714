// Which frames the channel's pixel area can carry, and how many of its bytes each one takes.
#include <windows.h>

#include <gtest/gtest.h>

#include "SharedFrameHeader.h"

TEST(ChannelFrameBytesTest, FramesThatFitGiveTheirPaddedSizeAndOthersNothing) {
    struct Case {
        const char* name;
        LONG width, height;
        WORD bitCount;
        DWORD bytes;
    } cases[] = {
        {"the largest offered frame", 640, 480, 24, 921600},
        {"the smallest offered frame", 160, 120, 24, 57600},
        {"rows padded to 4 bytes", 401, 300, 24, 1204 * 300},
        {"top-down rows count the same", 640, -480, 24, 921600},
        {"one pixel", 1, 1, 24, 4},
        {"exactly the pixel area in one row", 307200, 1, 24, 921600},
        {"one row more than fits", 640, 481, 24, 0},
        {"one pixel wider than fits", 641, 480, 24, 0},
        {"32 bits per pixel at 640 x 480", 640, 480, 32, 0},
        {"8 bits per pixel", 640, 480, 8, 307200},
        {"no width", 0, 480, 24, 0},
        {"negative width", -640, 480, 24, 0},
        {"no height", 640, 0, 24, 0},
        {"no bit count", 640, 480, 0, 0},
        {"sizes whose product wraps 64 bits", 0x7FFFFFFF, 0x7FFFFFFF, 0xFFFF, 0},
        {"a row wider than the area", 0x7FFFFFFF, 1, 24, 0},
        {"the most negative height", 1, static_cast<LONG>(0x80000000), 24, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BITMAPINFOHEADER bmi = {};
        bmi.biSize = sizeof bmi;
        bmi.biWidth = c.width;
        bmi.biHeight = c.height;
        bmi.biBitCount = c.bitCount;
        bmi.biSizeImage = 12345; // whatever the writer claims plays no part
        EXPECT_EQ(c.bytes, ChannelFrameBytes(bmi));
    }
}
