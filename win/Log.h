// A trace for results that are ignored on purpose.
//
// Most failures in the program are deliberately let pass (the user sees nothing and the program
// carries on). So that such a failure can still be found without a debugger, these macros write one
// line to the debug output when the result is a failure, and give the result back unchanged:
//
//     LOG_IF_FAILED(pControl->Stop());        // HRESULTs
//     LOG_IF_WIN32_FALSE(SetEvent(hEvent));   // BOOL-returning Win32 calls; logs GetLastError()
//     LOG_IF_WIN32_ERROR(RegSetValueExA(...)); // calls that return an error code (the registry)
//
// Under Wine the lines appear with WINEDEBUG=+debugstr (ZARVEX_WINEDEBUG=+debugstr on the bench).
// Logging keeps the thread's last error, so it can sit inside error paths.
#pragma once

#include <windows.h>

#include <cstdio>

namespace win {

inline void LogFailure(const char* file, int line, const char* expr, const char* what,
                       unsigned long code) noexcept {
    const DWORD dwError = ::GetLastError();
    char text[512];
    // Only the file's own name: the build's directories say nothing to a reader of the trace.
    const char* name = file;
    for (const char* p = file; *p; ++p)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    std::snprintf(text, sizeof text, "zarvex: %s(%d): %s %s 0x%08lx\n", name, line, expr, what, code);
    ::OutputDebugStringA(text);
    ::SetLastError(dwError);
}

inline HRESULT LogIfFailed(HRESULT hr, const char* file, int line, const char* expr) noexcept {
    if (FAILED(hr))
        LogFailure(file, line, expr, "failed with", static_cast<unsigned long>(hr));
    return hr;
}

template <typename T> T LogIfWin32False(T result, const char* file, int line, const char* expr) noexcept {
    if (!result)
        LogFailure(file, line, expr, "failed, last error", ::GetLastError());
    return result;
}

inline LONG LogIfWin32Error(LONG error, const char* file, int line, const char* expr) noexcept {
    if (error != ERROR_SUCCESS)
        LogFailure(file, line, expr, "failed with error", static_cast<unsigned long>(error));
    return error;
}

} // namespace win

#define LOG_IF_FAILED(expr) ::win::LogIfFailed((expr), __FILE__, __LINE__, #expr)
#define LOG_IF_WIN32_FALSE(expr) ::win::LogIfWin32False((expr), __FILE__, __LINE__, #expr)
#define LOG_IF_WIN32_ERROR(expr) ::win::LogIfWin32Error((expr), __FILE__, __LINE__, #expr)
