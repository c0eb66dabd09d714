#include "ViewerOutput.h"

#include <windows.h>

#include "Utf8.h"
#include "ViewerProtocol.h"

namespace viewer {

namespace {

// False when the stream does not exist or refuses the line.
bool WriteLineTo(DWORD which, const std::wstring& text) {
    const HANDLE stream = GetStdHandle(which);
    if (!stream || stream == INVALID_HANDLE_VALUE || GetFileType(stream) == FILE_TYPE_UNKNOWN)
        return false;
    const std::string line = win::Utf8(text) + "\n";
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
