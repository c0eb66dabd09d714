// CFile: an owned Win32 file handle with the open modes and calls the settings file uses.
#pragma once

#include <windows.h>

#include "UniqueAny.h"
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
    enum SeekPosition : unsigned { begin = FILE_BEGIN, current = FILE_CURRENT, end = FILE_END };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    // Closes the file without reporting a failed close (a destructor must not throw).
    ~CFile() = default;

    // FALSE (and the cause in *pError, when given) if the file cannot be opened.
    BOOL Open(const char* path, unsigned flags, CFileException* pError = nullptr);
    // The five below throw CFileException when the system call fails.
    ULONGLONG GetLength() const;
    UINT Read(void* buffer, UINT count);
    void Write(const void* buffer, UINT count);
    // Moves the file pointer by offset from `from`; the new position.
    ULONGLONG Seek(LONGLONG offset, unsigned from);
    // Cuts or extends the file to exactly newLength bytes; the file pointer is left there.
    void SetLength(ULONGLONG newLength);
    // Throws CFileException when the close itself fails (the last buffered write can fail there).
    void Close();

    static void Remove(const char* path);

    // The open file's handle, INVALID_HANDLE_VALUE when none is open.
    operator HANDLE() const { return m_hFile.get(); }

    win::UniqueFile m_hFile;
};
