// Wide text as UTF-8 bytes, for output lines, logs and test messages: the platform's strings are
// wide, and what a console, a log file or a test's failure message carries is UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win {

// The UTF-8 form of text; empty for empty text, and for text the system cannot convert.
inline std::string Utf8(std::wstring_view text) {
    if (text.empty())
        return std::string();
    const int length = static_cast<int>(text.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &out[0], n, nullptr, nullptr);
    return out;
}

} // namespace win
