// CFile: an owned Win32 file handle with the open modes and calls the settings file uses.
#pragma once

#include <windows.h>

#include "afx_exceptions.h"

class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
    };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile();

    // FALSE (and the cause in *pError, when given) if the file cannot be opened.
    BOOL Open(const char* path, unsigned flags, CFileException* pError = nullptr);
    // The three below throw CFileException when the system call fails.
    ULONGLONG GetLength() const;
    UINT Read(void* buffer, UINT count);
    void Write(const void* buffer, UINT count);
    void Close();

    static void Remove(const char* path);

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
};
