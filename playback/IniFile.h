// IIniFile and CIniFile: the program's INI-style settings file.
//
// CIniFile reads the whole file into memory when it is constructed, answers every get and set by
// searching and editing that text, and writes it back as a whole when it is destroyed, if anything
// changed. Lines end with CR LF; a new key goes first in its section; an edit touches only its own
// span, so anything else in the file survives byte for byte. Single-threaded.
#pragma once

#include <windows.h>

#include <string>

#include "afx_string.h"

class IIniFile {
public:
    virtual ~IIniFile() = default;
    virtual bool GetSectionNames(CStringArray& names) = 0;
    virtual bool DeleteSection(const char* section) = 0;
    virtual bool GetKeyNames(const char* section, CStringArray& names) = 0;
    virtual bool DeleteKey(const char* section, const char* key) = 0;
    virtual int GetInt(const char* section, const char* key, int defaultValue) = 0;
    virtual float GetFloat(const char* section, const char* key, float defaultValue) = 0;
    virtual CString GetString(const char* section, const char* key, const char* defaultValue) = 0;
    virtual int GetStringBuffer(const char* section, const char* key, const char* defaultValue, char* buffer,
                                int bufferSize) = 0;
    virtual bool GetBinary(const char* section, const char* key, void* buffer, const void* defaultBytes,
                           int length) = 0;
    // The delivered buffer is the caller's, to free with delete[].
    virtual int GetBinaryAlloc(const char* section, const char* key, BYTE** buffer, const void* defaultBytes,
                               int defaultLength) = 0;
    virtual bool SetInt(const char* section, const char* key, int value) = 0;
    virtual bool SetFloat(const char* section, const char* key, float value) = 0;
    virtual bool SetString(const char* section, const char* key, const char* text) = 0;
    virtual bool SetBinary(const char* section, const char* key, const void* bytes, int length) = 0;
};

class CIniFile : public virtual IIniFile {
public:
    // Reads the file; a missing or unreadable file reads as empty.
    explicit CIniFile(const char* path);
    // Writes the file back when anything changed (an empty text deletes it). A failed write keeps
    // the old file and is not reported.
    ~CIniFile() override;
    CIniFile(const CIniFile&) = delete;
    CIniFile& operator=(const CIniFile&) = delete;

    bool GetSectionNames(CStringArray& names) override;
    bool DeleteSection(const char* section) override;
    bool GetKeyNames(const char* section, CStringArray& names) override;
    bool DeleteKey(const char* section, const char* key) override;
    int GetInt(const char* section, const char* key, int defaultValue) override;
    float GetFloat(const char* section, const char* key, float defaultValue) override;
    CString GetString(const char* section, const char* key, const char* defaultValue) override;
    int GetStringBuffer(const char* section, const char* key, const char* defaultValue, char* buffer,
                        int bufferSize) override;
    bool GetBinary(const char* section, const char* key, void* buffer, const void* defaultBytes,
                   int length) override;
    int GetBinaryAlloc(const char* section, const char* key, BYTE** buffer, const void* defaultBytes,
                       int defaultLength) override;
    bool SetInt(const char* section, const char* key, int value) override;
    bool SetFloat(const char* section, const char* key, float value) override;
    bool SetString(const char* section, const char* key, const char* text) override;
    bool SetBinary(const char* section, const char* key, const void* bytes, int length) override;

    // The text as it would be written; for tests and diagnostics.
    const CString& GetText() const { return m_strText; }
    bool IsChanged() const { return m_bChanged; }
    // Writes the text now (as the destructor would); false when the file could not be written.
    bool Save();

    // Longest names the lookups accept: the search patterns "[name]\r" and "\nkey=" must fit 32 bytes.
    // A longer name, or a name or value holding a CR or LF, is refused: a get gives the default,
    // a set or delete changes nothing and returns false.
    static constexpr int kMaxSectionName = 28;
    static constexpr int kMaxKeyName = 29;

private:
    void Load();
    int FindSection(const char* section) const;
    int FindKey(int sectionPos, const char* key) const;
    int FindValue(const char* section, const char* key) const;
    // End of the value text that starts at valuePos (its line's first CR or LF), or -1.
    int FindValueEnd(int valuePos) const;
    // The value text up to its line end, or to the end of the text on a last line without one.
    std::string LineValue(int valuePos) const;
    bool SetValue(const char* section, const char* key, const CString& value);

    CString m_strPath;
    CString m_strText;
    bool m_bChanged = false;
};
