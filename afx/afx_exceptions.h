// The framework's exceptions. Both are thrown by value and caught by reference.
// CMemoryException derives from std::bad_alloc, so one catch clause covers a failed operator new
// and an explicit AfxThrowMemoryException alike.
#pragma once

#include <new>

class CException {
public:
    virtual ~CException() = default;
};

class CMemoryException : public CException, public std::bad_alloc {
public:
    const char* what() const noexcept override { return "CMemoryException"; }
};

class CFileException : public CException {
public:
    enum Cause { none, generic, fileNotFound, badPath, accessDenied, diskFull, endOfFile };

    explicit CFileException(int cause = none, long osError = -1) : m_cause(cause), m_lOsError(osError) {}

    int m_cause;
    long m_lOsError;
};

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowFileException(int cause, long osError);

// Shows the framework's standard report for an exhausted memory exception ("Out of memory.").
void AfxReportMemoryException();
