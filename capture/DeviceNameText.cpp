#include "DeviceNameText.h"

#include <windows.h>

#include <cstring>

namespace {

std::string Narrow(UINT codePage, const wchar_t* text, bool* lossless) {
    BOOL usedDefault = FALSE;
    // CP_UTF8 takes no default-character query (and needs none: it converts everything).
    BOOL* pUsedDefault = codePage == CP_UTF8 ? nullptr : &usedDefault;
    const int n = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, pUsedDefault);
    if (n <= 0) {
        *lossless = false;
        return std::string();
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text, -1, &out[0], n, nullptr, pUsedDefault);
    out.resize(static_cast<size_t>(n) - 1);
    *lossless = !usedDefault;
    return out;
}

std::wstring Widen(UINT codePage, const char* text) {
    const int n = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, &out[0], n);
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

bool StartsWithMark(const char* text) {
    return std::strncmp(text, kDeviceNameUtf8Mark, sizeof kDeviceNameUtf8Mark - 1) == 0;
}

} // namespace

CString DeviceNameToText(const wchar_t* name) {
    if (!name)
        return CString();
    bool lossless = false;
    const std::string ansi = Narrow(CP_ACP, name, &lossless);
    // "No default character used" is not the whole test: a best-fit mapping (U+0100 to "A") uses
    // none either, so the round trip decides.
    if (lossless && !StartsWithMark(ansi.c_str()) && Widen(CP_ACP, ansi.c_str()) == name)
        return CString(ansi);
    bool utf8Whole = false;
    return CString(std::string(kDeviceNameUtf8Mark) + Narrow(CP_UTF8, name, &utf8Whole));
}

std::wstring DeviceNameFromText(const char* text) {
    if (!text)
        return std::wstring();
    if (StartsWithMark(text))
        return Widen(CP_UTF8, text + sizeof kDeviceNameUtf8Mark - 1);
    return Widen(CP_ACP, text);
}
