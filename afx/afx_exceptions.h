// The framework's exceptions, and the barrier that keeps them out of the platform's callbacks.
//
// Both exceptions are thrown by value and caught by reference. CMemoryException derives from
// std::bad_alloc, so one catch clause covers a failed operator new and an explicit
// AfxThrowMemoryException alike.
#pragma once

#include <new>
#include <utility>

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

// The text of the report for any exception other than exhausted memory.
constexpr char kUnexpectedErrorText[] = "Unexpected error.";

// Shows the framework's standard report for an exhausted memory exception ("Out of memory.").
// Never throws. While a report is already open on the calling thread (its message loop can run a
// handler that fails again, a paint handler say), a further report goes to the debug output only.
void AfxReportMemoryException() noexcept;
// The same for any other exception: kUnexpectedErrorText in a message box.
void AfxReportUnexpectedException() noexcept;

// What an exception barrier caught.
enum class AfxCaught { nothing, outOfMemory, other };

// The barrier at every place where the platform calls us (dialog and window procedures, thread
// start): runs f() and lets no exception out. Memory exhaustion gets the out-of-memory report,
// anything else the unexpected-error report; the caller answers the platform as if unhandled.
template <typename F> AfxCaught AfxCallGuarded(F&& f) noexcept {
    try {
        std::forward<F>(f)();
        return AfxCaught::nothing;
    } catch (const std::bad_alloc&) {
        AfxReportMemoryException();
        return AfxCaught::outOfMemory;
    } catch (...) {
        AfxReportUnexpectedException();
        return AfxCaught::other;
    }
}
