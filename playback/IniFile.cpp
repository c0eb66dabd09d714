#include "IniFile.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "Log.h"
#include "afx_file.h"

namespace {

// A line break inside a name or value would make a set write more than one line: the value
// would read back cut short, and the rest would turn into keys or sections of its own.
bool HasLineBreak(const char* text) {
    return std::strpbrk(text, "\r\n") != nullptr;
}

bool SectionNameOk(const char* section) {
    return section && std::strlen(section) <= static_cast<size_t>(CIniFile::kMaxSectionName) &&
           !HasLineBreak(section);
}

bool KeyNameOk(const char* key) {
    return key && std::strlen(key) <= static_cast<size_t>(CIniFile::kMaxKeyName) && !HasLineBreak(key);
}

// atoi without its undefined overflow: out-of-range values saturate.
int ParseInt(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

// Two hex digits as the standard parse reads them: invalid digits end the number (so "G1" is 0).
BYTE ParseHexPair(const CString& text, int at) {
    const char pair[3] = {text[at], text[at + 1], '\0'};
    return static_cast<BYTE>(std::strtol(pair, nullptr, 16));
}

// Writes the whole text into an open file and closes it; false on any failure. The handle is
// closed when the function returns, so the caller may delete a half-written file.
bool WriteAndClose(CFile& file, const CString& text) {
    try {
        file.Write(text.GetString(), static_cast<UINT>(text.GetLength()));
        file.Close();
        return true;
    } catch (const CFileException&) {
        return false;
    }
}

// The attributes a rewritten settings file keeps: a hidden or system file stays one. (Read-only
// files are never rewritten; see MayReplace.)
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// True when the old file may be overwritten, or there is none yet; *attributes gets its
// attributes (INVALID_FILE_ATTRIBUTES when there is none). A plain overwrite is refused for a
// read-only file and for one that another program holds open without sharing, and the rename that
// swaps the new text in must be refused alike. Windows' rename refuses both as well, but Wine's
// replaces a read-only file, so both are checked here.
bool MayReplace(const char* path, DWORD* attributes) {
    *attributes = GetFileAttributesA(path);
    if (*attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    if (*attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return false;
    CFile probe; // closed on return, before the rename
    return probe.Open(path, CFile::modeWrite) != FALSE;
}

// Rewrites an existing file where it stands, for a folder where no new file can be made beside it
// (no right to create or delete files there, or the name taken). The file keeps its identity and
// its attributes. It is cut only after the new text is in it, and when any step fails the old
// bytes go back, so a failed save leaves the file as it was.
bool RewriteInPlace(const char* path, const CString& text) {
    CFile file;
    if (!file.Open(path, CFile::modeReadWrite))
        return false;
    std::string old;
    try {
        const ULONGLONG length = file.GetLength();
        if (length > static_cast<ULONGLONG>(INT_MAX / 2))
            return false; // not a settings file
        old.resize(static_cast<size_t>(length));
        if (!old.empty())
            old.resize(file.Read(&old[0], static_cast<UINT>(old.size())));
    } catch (const CFileException&) {
        return false;
    }
    try {
        (void)file.Seek(0, CFile::begin);
        file.Write(text.GetString(), static_cast<UINT>(text.GetLength()));
        file.SetLength(static_cast<ULONGLONG>(text.GetLength()));
        return true; // the text is in the file; CFile closes it
    } catch (const CFileException& e) {
        win::LogFailure(__FILE__, __LINE__, path, "could not be rewritten in place, error",
                        static_cast<unsigned long>(e.m_lOsError));
    }
    try {
        (void)file.Seek(0, CFile::begin);
        file.Write(old.data(), static_cast<UINT>(old.size()));
        file.SetLength(old.size());
    } catch (const CFileException& e) {
        win::LogFailure(__FILE__, __LINE__, path, "could not be given its old bytes back, error",
                        static_cast<unsigned long>(e.m_lOsError));
    }
    return false;
}

} // namespace

CIniFile::CIniFile(const char* path) : m_strPath(path) {
    Load();
}

CIniFile::~CIniFile() {
    if (m_bChanged && !m_strPath.IsEmpty())
        (void)Save(); // nobody is told about a failed write; the old file stays as it was
}

void CIniFile::Load() {
    m_strText.Empty();
    CFile file;
    if (!file.Open(m_strPath, CFile::modeRead | CFile::shareDenyNone))
        return;
    try {
        const ULONGLONG length = file.GetLength();
        if (length > static_cast<ULONGLONG>(INT_MAX / 2))
            return; // not a settings file; treat it as unreadable
        std::string bytes(static_cast<size_t>(length), '\0');
        const UINT got = file.Read(&bytes[0], static_cast<UINT>(length));
        bytes.resize(got);
        // Reading stops at the first NUL: the text is a C string to every search below.
        const size_t nul = bytes.find('\0');
        if (nul != std::string::npos)
            bytes.resize(nul);
        m_strText = CString(bytes);
    } catch (const CFileException&) {
        m_strText.Empty();
    }
}

bool CIniFile::Save() {
    if (m_strPath.IsEmpty())
        return false;
    try {
        if (m_strText.IsEmpty()) {
            CFile::Remove(m_strPath);
            return true;
        }
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        if (!MayReplace(m_strPath, &attributes))
            return false;
        // Write beside the file and swap it in, so a write that fails half-way never leaves a
        // truncated settings file behind.
        const CString temp = m_strPath + ".new";
        CFile file;
        if (!file.Open(temp, CFile::modeCreate | CFile::modeWrite)) {
            // No new file can be made beside it; a file that is there is rewritten where it stands.
            return attributes != INVALID_FILE_ATTRIBUTES && RewriteInPlace(m_strPath, m_strText);
        }
        if (!WriteAndClose(file, m_strText)) {
            (void)DeleteFileA(temp); // a half-written copy goes; the old file stays as it was
            return false;
        }
        // The copy takes the old file's place, so it takes its attributes first. A failure here
        // costs a hidden file its hidden bit, not its settings.
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            const DWORD kept = attributes & kKeptAttributes;
            (void)LOG_IF_WIN32_FALSE(SetFileAttributesA(temp, kept ? kept : FILE_ATTRIBUTE_NORMAL));
        }
        if (!MoveFileExA(temp, m_strPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            (void)DeleteFileA(temp); // the old file stays; only the stray copy goes
            return false;
        }
        return true;
    } catch (const CFileException&) {
        return false;
    }
}

int CIniFile::FindSection(const char* section) const {
    if (!SectionNameOk(section))
        return -1;
    const CString pattern = CString("[") + section + "]\r";
    const int at = m_strText.Find(pattern);
    return at < 0 ? -1 : at + pattern.GetLength();
}

int CIniFile::FindKey(int sectionPos, const char* key) const {
    if (sectionPos < 0 || !KeyNameOk(key))
        return -1;
    const CString pattern = CString("\n") + key + "=";
    const int at = m_strText.Find(pattern, sectionPos);
    if (at < 0)
        return -1;
    const int nextSection = m_strText.Find("\n[", sectionPos);
    if (nextSection >= 0 && nextSection < at)
        return -1;
    return at + pattern.GetLength();
}

int CIniFile::FindValue(const char* section, const char* key) const {
    return FindKey(FindSection(section), key);
}

int CIniFile::FindValueEnd(int valuePos) const {
    // The value is the bytes up to the CR. Stopping at a bare CR or LF as well keeps every read
    // and edit inside its own line in a file with broken line ends, where the next LF may lie
    // lines further on, past another section's header.
    const size_t at = m_strText.str().find_first_of("\r\n", static_cast<size_t>(valuePos));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

std::string CIniFile::LineValue(int valuePos) const {
    const int end = FindValueEnd(valuePos);
    return m_strText.str().substr(static_cast<size_t>(valuePos),
                                  end < 0 ? std::string::npos : static_cast<size_t>(end - valuePos));
}

int CIniFile::GetInt(const char* section, const char* key, int defaultValue) {
    // Parsed from the value's own line only: the number parsers skip leading white space, CR and
    // LF included, and would otherwise take an empty value's number from the next line.
    const int pos = FindValue(section, key);
    return pos < 0 ? defaultValue : ParseInt(LineValue(pos));
}

float CIniFile::GetFloat(const char* section, const char* key, float defaultValue) {
    // strtof, not atof cast to float: a value beyond the float range gives infinity instead of an
    // undefined conversion.
    const int pos = FindValue(section, key);
    return pos < 0 ? defaultValue : std::strtof(LineValue(pos).c_str(), nullptr);
}

CString CIniFile::GetString(const char* section, const char* key, const char* defaultValue) {
    const int pos = FindValue(section, key);
    const int end = pos < 0 ? -1 : FindValueEnd(pos);
    if (end < 0)
        return CString(defaultValue);
    return m_strText.Mid(pos, end - pos);
}

int CIniFile::GetStringBuffer(const char* section, const char* key, const char* defaultValue, char* buffer,
                              int bufferSize) {
    const CString value = GetString(section, key, defaultValue);
    if (!buffer || bufferSize <= 0)
        return 0;
    // Never past the caller's buffer: a longer value is cut and still terminated.
    const int n = value.GetLength() < bufferSize ? value.GetLength() : bufferSize - 1;
    std::memcpy(buffer, value.GetString(), static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

bool CIniFile::GetBinary(const char* section, const char* key, void* buffer, const void* defaultBytes,
                         int length) {
    const CString text = GetString(section, key, "");
    auto* out = static_cast<BYTE*>(buffer);
    if (length > 0 && out && !text.IsEmpty() && text.GetLength() == 2LL * length) {
        for (int i = 0; i < length; ++i)
            out[i] = ParseHexPair(text, 2 * i);
        return true;
    }
    if (length > 0 && out && defaultBytes)
        std::memcpy(out, defaultBytes, static_cast<size_t>(length));
    return false;
}

int CIniFile::GetBinaryAlloc(const char* section, const char* key, BYTE** buffer, const void* defaultBytes,
                             int defaultLength) {
    if (!buffer)
        return 0;
    const CString text = GetString(section, key, "");
    const int n = text.GetLength() / 2;
    if (n > 0 && text.GetLength() == 2 * n) {
        BYTE* bytes = new (std::nothrow) BYTE[static_cast<size_t>(n)];
        if (bytes) {
            for (int i = 0; i < n; ++i)
                bytes[i] = ParseHexPair(text, 2 * i);
            *buffer = bytes;
            return n;
        }
    }
    if (defaultLength > 0 && defaultBytes) {
        BYTE* bytes = new (std::nothrow) BYTE[static_cast<size_t>(defaultLength)];
        if (!bytes)
            return 0;
        std::memcpy(bytes, defaultBytes, static_cast<size_t>(defaultLength));
        *buffer = bytes;
        return defaultLength;
    }
    return 0;
}

bool CIniFile::SetValue(const char* section, const char* key, const CString& value) {
    if (!SectionNameOk(section) || !KeyNameOk(key) || HasLineBreak(value))
        return false;
    const CString line = CString(key) + "=" + value + "\r\n";
    const int sectionPos = FindSection(section);
    if (sectionPos < 0) {
        m_strText += (m_strText.IsEmpty() ? CString("[") : CString("\r\n[")) + section + "]\r\n" + line;
    } else {
        const int valuePos = FindKey(sectionPos, key);
        if (valuePos < 0) {
            // The new key becomes the section's first line. A header that lacks its LF (the file's
            // last line, or a file of bare CRs) gets one first: a key line must follow an LF to be
            // found, and inserting one byte further on would split the next line.
            if (sectionPos < m_strText.GetLength() && m_strText[sectionPos] == '\n')
                m_strText = m_strText.Left(sectionPos + 1) + line + m_strText.Mid(sectionPos + 1);
            else
                m_strText = m_strText.Left(sectionPos) + "\n" + line + m_strText.Mid(sectionPos);
        } else {
            const int end = FindValueEnd(valuePos);
            if (end >= 0)
                m_strText = m_strText.Left(valuePos) + value + m_strText.Mid(end);
            else // a last line without CR LF: the whole rest is the old value; end the line properly
                m_strText = m_strText.Left(valuePos) + value + "\r\n";
        }
    }
    m_bChanged = true;
    return true;
}

bool CIniFile::SetInt(const char* section, const char* key, int value) {
    CString text;
    text.Format("%d", value);
    return SetValue(section, key, text);
}

bool CIniFile::SetFloat(const char* section, const char* key, float value) {
    CString text;
    text.Format("%f", static_cast<double>(value));
    return SetValue(section, key, text);
}

bool CIniFile::SetString(const char* section, const char* key, const char* text) {
    return SetValue(section, key, CString(text));
}

bool CIniFile::SetBinary(const char* section, const char* key, const void* bytes, int length) {
    CString hex;
    const auto* in = static_cast<const BYTE*>(bytes);
    for (int i = 0; in && i < length; ++i) {
        CString pair;
        pair.Format("%02X", in[i]);
        hex += pair;
    }
    IIniFile& self = *this;
    return self.SetString(section, key, hex);
}

bool CIniFile::DeleteSection(const char* section) {
    if (!SectionNameOk(section))
        return false;
    const int pos = FindSection(section);
    if (pos < 0)
        return true;
    const int headerStart = pos - static_cast<int>(std::strlen(section)) - 3;
    const int next = m_strText.Find("\r\n[", pos);
    m_strText = m_strText.Left(headerStart) + (next >= 0 ? m_strText.Mid(next + 2) : CString());
    m_bChanged = true;
    return true;
}

bool CIniFile::DeleteKey(const char* section, const char* key) {
    const int valuePos = FindValue(section, key);
    if (valuePos < 0)
        return false;
    const int lineStart = valuePos - static_cast<int>(std::strlen(key)) - 1;
    const int end = FindValueEnd(valuePos);
    if (end < 0)
        return false; // a last line without a line end is left alone
    // Through the line's own end (CR LF, or a bare CR or LF), never on to a CR LF further down.
    int next = end + 1;
    if (m_strText[end] == '\r' && next < m_strText.GetLength() && m_strText[next] == '\n')
        ++next;
    m_strText = m_strText.Left(lineStart) + m_strText.Mid(next);
    m_bChanged = true;
    return true;
}

bool CIniFile::GetSectionNames(CStringArray& names) {
    int pos = 0;
    for (;;) {
        const int open = m_strText.Find('[', pos);
        if (open < 0)
            break;
        const int close = m_strText.Find("]\r\n", open);
        if (close < 0)
            break;
        names.Add(m_strText.Mid(open + 1, close - open - 1));
        pos = close + 1;
    }
    return true;
}

bool CIniFile::GetKeyNames(const char* section, CStringArray& names) {
    const int pos = FindSection(section);
    if (pos < 0)
        return false;
    const int nextSection = m_strText.Find("\n[", pos);
    const int sectionEnd = nextSection >= 0 ? nextSection : m_strText.GetLength();
    // Each line of the section that holds a "=" names a key; a line of any other shape is passed
    // over, and nothing past the section's end is read as one of its keys.
    int lf = m_strText.Find('\n', pos);
    while (lf >= 0 && lf < sectionEnd) {
        const int next = m_strText.Find('\n', lf + 1);
        const int lineEnd = (next >= 0 && next <= sectionEnd) ? next : sectionEnd;
        const int eq = m_strText.Find('=', lf + 1);
        if (eq >= 0 && eq < lineEnd)
            names.Add(m_strText.Mid(lf + 1, eq - lf - 1));
        lf = next;
    }
    return true;
}
