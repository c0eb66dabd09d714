// CString and CStringArray: 8-bit text in the system's ANSI code page, with the handful of
// operations the program's settings file, dialog and device lists use.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

class CString {
public:
    CString() = default;
    CString(const char* text) : m_s(text ? text : "") {}
    CString(const char* text, int length) : m_s(text ? std::string(text, static_cast<size_t>(length)) : "") {}
    CString(const std::string& text) : m_s(text) {}

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    char GetAt(int i) const { return m_s[static_cast<size_t>(i)]; }
    char operator[](int i) const { return GetAt(i); }
    operator const char*() const { return m_s.c_str(); }
    const char* GetString() const { return m_s.c_str(); }
    const std::string& str() const { return m_s; }

    // Index of the first occurrence at or after start, or -1.
    int Find(const char* sub, int start = 0) const;
    int Find(char ch, int start = 0) const;

    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Right(int count) const;

    void Format(const char* fmt, ...);
    void FormatV(const char* fmt, va_list args);

    CString& operator=(const char* text) {
        m_s = text ? text : "";
        return *this;
    }
    CString& operator+=(const CString& other) {
        m_s += other.m_s;
        return *this;
    }
    CString& operator+=(const char* text) {
        m_s += text ? text : "";
        return *this;
    }
    CString& operator+=(char ch) {
        m_s += ch;
        return *this;
    }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_s + (b ? b : "")); }
    friend CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.m_s); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const char* b) { return a.m_s == (b ? b : ""); }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }

private:
    std::string m_s;
};

class CStringArray {
public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    const CString& GetAt(int i) const { return m_items[static_cast<size_t>(i)]; }
    const CString& operator[](int i) const { return GetAt(i); }
    int Add(const CString& s) {
        m_items.push_back(s);
        return GetSize() - 1;
    }
    void RemoveAll() { m_items.clear(); }

private:
    std::vector<CString> m_items;
};
