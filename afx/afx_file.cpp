#include "afx_file.h"

namespace {

int CauseFromError(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return CFileException::fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return CFileException::badPath;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return CFileException::accessDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return CFileException::diskFull;
    default:
        return CFileException::generic;
    }
}

[[noreturn]] void ThrowLastError() {
    const DWORD error = GetLastError();
    AfxThrowFileException(CauseFromError(error), static_cast<long>(error));
}

} // namespace

BOOL CFile::Open(const char* path, unsigned flags, CFileException* pError) {
    Close();
    DWORD access = GENERIC_READ;
    if ((flags & 3) == modeWrite)
        access = GENERIC_WRITE;
    else if ((flags & 3) == modeReadWrite)
        access = GENERIC_READ | GENERIC_WRITE;
    const DWORD share = (flags & shareDenyNone) ? (FILE_SHARE_READ | FILE_SHARE_WRITE) : FILE_SHARE_READ;
    const DWORD disposition = (flags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE h = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (pError) {
            const DWORD error = GetLastError();
            *pError = CFileException(CauseFromError(error), static_cast<long>(error));
        }
        return FALSE;
    }
    m_hFile.reset(h);
    return TRUE;
}

ULONGLONG CFile::GetLength() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_hFile.get(), &size))
        ThrowLastError();
    return static_cast<ULONGLONG>(size.QuadPart);
}

UINT CFile::Read(void* buffer, UINT count) {
    DWORD got = 0;
    if (count && !ReadFile(m_hFile.get(), buffer, count, &got, nullptr))
        ThrowLastError();
    return got;
}

void CFile::Write(const void* buffer, UINT count) {
    DWORD put = 0;
    if (count && !WriteFile(m_hFile.get(), buffer, count, &put, nullptr))
        ThrowLastError();
    if (put != count)
        AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL);
}

ULONGLONG CFile::Seek(LONGLONG offset, unsigned from) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position = {};
    if (!SetFilePointerEx(m_hFile.get(), distance, &position, from))
        ThrowLastError();
    return static_cast<ULONGLONG>(position.QuadPart);
}

void CFile::SetLength(ULONGLONG newLength) {
    (void)Seek(static_cast<LONGLONG>(newLength), begin);
    if (!SetEndOfFile(m_hFile.get()))
        ThrowLastError();
}

void CFile::Close() {
    if (m_hFile && !m_hFile.close())
        ThrowLastError();
}

void CFile::Remove(const char* path) {
    if (!DeleteFileA(path))
        ThrowLastError();
}
