#include "ViewerOutput.h"

#include <windows.h>

#include "ViewerProtocol.h"

namespace viewer {

namespace {

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

// False when the stream does not exist or refuses the line.
bool WriteLineTo(DWORD which, const std::wstring& text) {
    const HANDLE stream = GetStdHandle(which);
    if (!stream || stream == INVALID_HANDLE_VALUE || GetFileType(stream) == FILE_TYPE_UNKNOWN)
        return false;
    const std::string line = Utf8(text) + "\n";
    DWORD written = 0;
    return WriteFile(stream, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

} // namespace

void ReportError(const std::wstring& text) {
    const std::wstring line = std::wstring(kTitlePrefix) + L": " + text;
    if (!WriteLineTo(STD_ERROR_HANDLE, line))
        (void)MessageBoxW(nullptr, text.c_str(), kTitlePrefix, MB_OK | MB_ICONERROR); // the only way left
}

void ReportLine(const std::wstring& text) {
    (void)WriteLineTo(STD_OUTPUT_HANDLE, text); // nobody to tell when there is no output
}

} // namespace viewer
