// The caption font as the dialog makes it, for the caption tests and the benchmark: the icon title
// font's settings with Arial, bold, italic, 20 points at the screen's resolution.
#pragma once

#include <windows.h>

inline LOGFONTA CaptionFont() {
    LOGFONTA font = {};
    SystemParametersInfoA(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0);
    lstrcpynA(font.lfFaceName, "Arial", LF_FACESIZE);
    font.lfWeight = FW_BOLD;
    font.lfItalic = TRUE;
    HDC screen = GetDC(nullptr);
    font.lfHeight = -MulDiv(20, screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96, 72);
    if (screen)
        ReleaseDC(nullptr, screen);
    return font;
}
