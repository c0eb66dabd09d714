#include "FilterSettings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Log.h"
#include "ResolutionTable.h"
#include "UniqueAny.h"

namespace {

// atoi's reading (leading blanks, an optional sign, digits, anything after ignored), without its
// undefined behaviour on values that do not fit: they saturate instead.
LONGLONG ParseNumber(const char* pText) {
    return std::strtoll(pText, nullptr, 10);
}

} // namespace

LONGLONG CFilterSettings::ReadNumber(const char* pValueName, const char* pDefaultText,
                                     LONGLONG defaultNumber) {
    win::UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return ParseNumber(pDefaultText);
    // One byte more than we let the registry fill, always zero: a value stored without its
    // terminating zero still ends inside the buffer.
    char text[65] = {};
    DWORD cb = 64;
    DWORD type = REG_NONE;
    const LONG err =
        RegQueryValueExA(key.get(), pValueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &cb);
    if (err == ERROR_FILE_NOT_FOUND)
        return ParseNumber(pDefaultText);
    if (err != ERROR_SUCCESS || type != REG_SZ)
        return defaultNumber;
    return ParseNumber(text);
}

void CFilterSettings::WriteNumber(const char* pValueName, LONGLONG value) {
    char text[32];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    // A write that fails is let pass, traced: the setting still holds in the running pin.
    win::UniqueRegKey key;
    if (LOG_IF_WIN32_ERROR(RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_WRITE, nullptr, key.put(), nullptr)) != ERROR_SUCCESS)
        return;
    (void)LOG_IF_WIN32_ERROR(RegSetValueExA(key.get(), pValueName, 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(text),
                                            static_cast<DWORD>(std::strlen(text) + 1)));
}

LONGLONG CFilterSettings::LoadFrameTime() {
    const LONGLONG frameTime = ReadNumber(kFrameTimeValue, "333333", kDefaultFrameTime);
    if (frameTime <= 0)
        return kDefaultFrameTime;
    return frameTime > kMaxFrameTime ? kMaxFrameTime : frameTime;
}

int CFilterSettings::LoadSelectPixel() {
    const LONGLONG index = ReadNumber(kSelectPixelValue, "0", kDefaultSelectPixel);
    return index >= 0 && index < kResolutionCount ? static_cast<int>(index) : kDefaultSelectPixel;
}

void CFilterSettings::StoreFrameTime(LONGLONG frameTime) {
    WriteNumber(kFrameTimeValue, frameTime);
}

void CFilterSettings::StoreSelectPixel(int index) {
    WriteNumber(kSelectPixelValue, index);
}
