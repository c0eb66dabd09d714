#include "afx_string.h"

#include <cstdio>

int CString::Find(const char* sub, int start) const {
    if (start < 0 || static_cast<size_t>(start) > m_s.size() || !sub)
        return -1;
    const size_t at = m_s.find(sub, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(char ch, int start) const {
    if (start < 0 || static_cast<size_t>(start) > m_s.size())
        return -1;
    const size_t at = m_s.find(ch, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString CString::Left(int count) const {
    if (count <= 0)
        return CString();
    return CString(m_s.substr(0, static_cast<size_t>(count)));
}

CString CString::Mid(int first) const {
    return Mid(first, GetLength() - first);
}

CString CString::Mid(int first, int count) const {
    if (first < 0)
        first = 0;
    if (first >= GetLength() || count <= 0)
        return CString();
    return CString(m_s.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::Right(int count) const {
    if (count <= 0)
        return CString();
    if (count >= GetLength())
        return *this;
    return CString(m_s.substr(m_s.size() - static_cast<size_t>(count)));
}

void CString::Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    FormatV(fmt, args);
    va_end(args);
}

void CString::FormatV(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0) {
        m_s.clear();
        return;
    }
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), fmt, args);
    out.resize(static_cast<size_t>(n));
    m_s.swap(out);
}
