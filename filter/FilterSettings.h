// CFilterSettings: the virtual camera's two per-user settings in the registry,
// HKEY_CURRENT_USER "Software\Zarvex", values "FrameTime" and "SelectPixel" as REG_SZ decimal text.
//
// Reads fall back to the defaults when the key or value is missing or unusable; writes that fail
// are ignored (the running pin keeps the new value either way). The pin reads both once, when it
// is constructed.
#pragma once

#include <windows.h>

class CFilterSettings {
public:
    static constexpr LONGLONG kDefaultFrameTime = 333333; // 30 frames per second
    static constexpr LONGLONG kMaxFrameTime = 10000000;   // 1 frame per second
    static constexpr int kDefaultSelectPixel = 0;         // 160 x 120

    // The stored frame time in 100-ns units. A value of 0 or less (which would leave the pin
    // unpaced and its frame rate undefined) gives the default; one above a second per frame
    // gives a second.
    static LONGLONG LoadFrameTime();
    // The stored ResolutionTable index; anything outside the table gives the default.
    static int LoadSelectPixel();

    static void StoreFrameTime(LONGLONG frameTime);
    static void StoreSelectPixel(int index);

    // The raw text rule both values share: the text of a REG_SZ value (default text when the key or
    // value is missing), converted like atoi; defaultNumber when the value is not REG_SZ.
    static LONGLONG ReadNumber(const char* pValueName, const char* pDefaultText, LONGLONG defaultNumber);
    static void WriteNumber(const char* pValueName, LONGLONG value);

    static constexpr char kKeyPath[] = "Software\\Zarvex";
    static constexpr char kFrameTimeValue[] = "FrameTime";
    static constexpr char kSelectPixelValue[] = "SelectPixel";
};
