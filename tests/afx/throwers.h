// Every kind of exception a handler or a thread procedure can let out, with the report the
// program must show for it.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "afx_exceptions.h"
#include "report_recorder.h"

namespace afx_test {

struct Thrower {
    const char* name;
    void (*raise)();
    bool outOfMemory; // the out-of-memory report, else the unexpected-error report
};

// An allocation the heap refuses for real: 128 TiB, the whole of a 64-bit process's address space.
// (Half of that can succeed under Wine, where Linux overcommits memory.)
// The result goes to a volatile pointer, so the compiler cannot drop the allocation as unused.
inline char* volatile g_unusedAllocation = nullptr;
inline void FailAllocation() {
    volatile size_t huge = size_t(1) << 47;
    g_unusedAllocation = new char[huge];
    delete[] g_unusedAllocation; // not reached
}

inline constexpr Thrower kThrowers[] = {
    {"std::bad_alloc", [] { throw std::bad_alloc(); }, true},
    {"CMemoryException", [] { AfxThrowMemoryException(); }, true},
    {"allocation refused by the heap", [] { FailAllocation(); }, true},
    {"std::runtime_error", [] { throw std::runtime_error("boom"); }, false},
    {"CFileException", [] { AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL); }, false},
    {"int", [] { throw 7; }, false},
};

// One of each report, for tests that need not run through every kind.
constexpr size_t kBadAlloc = 0;
constexpr size_t kRuntimeError = 3;

static_assert(!kThrowers[kRuntimeError].outOfMemory && kThrowers[kBadAlloc].outOfMemory);

inline const std::wstring& ExpectedReport(const Thrower& t) {
    return t.outOfMemory ? kOutOfMemoryReport : kUnexpectedReport;
}

} // namespace afx_test
