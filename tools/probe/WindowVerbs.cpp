// The verbs on whole windows (wait, close, snapshot) and the helpers every verb shares.
#include <climits>
#include <cwchar>

#include "ProbeVerb.h"
#include "ProbeWindows.h"
#include "ViewerProtocol.h"

namespace probe {

bool ParseInt(const std::wstring& text, int* pValue) {
    if (text.empty())
        return false;
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, 10);
    if (*end != 0 || value < INT_MIN || value > INT_MAX)
        return false;
    *pValue = static_cast<int>(value);
    return true;
}

bool ParseTimeout(const VerbArgs& args, size_t index, DWORD fallback, DWORD* pTimeout) {
    if (index >= args.size()) {
        *pTimeout = fallback;
        return true;
    }
    int value = 0;
    if (!ParseInt(args[index], &value) || value < 0)
        return false;
    *pTimeout = static_cast<DWORD>(value);
    return true;
}

HWND RequireWindow(const std::wstring& pattern, std::wstring* pWhy) {
    HWND window = FindTopLevel(pattern);
    if (!window)
        *pWhy = L"no window titled \"" + pattern + L"\"";
    return window;
}

HWND RequireControl(const std::wstring& pattern, const std::wstring& id, std::wstring* pWhy) {
    int value = 0;
    if (!ParseInt(id, &value)) {
        *pWhy = L"not a control id: " + id;
        return nullptr;
    }
    HWND window = RequireWindow(pattern, pWhy);
    if (!window)
        return nullptr;
    HWND control = FindControl(window, value);
    if (!control)
        *pWhy = L"no control " + id + L" in \"" + pattern + L"\"";
    return control;
}

bool VerbWait(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    DWORD timeout = 0;
    if (!ParseTimeout(args, 1, 30000, &timeout)) {
        *pWhy = L"not a time-out: " + args[1];
        return false;
    }
    if (PollUntil(timeout, [&] {
            HWND window = FindTopLevel(args[0]);
            return window && IsWindowVisible(window);
        }))
        return true;
    *pWhy = L"no visible window titled \"" + args[0] + L"\" within " + std::to_wstring(timeout) + L" ms";
    return false;
}

bool VerbClose(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    HWND window = RequireWindow(args[0], pWhy);
    if (!window)
        return false;
    if (!PostMessageW(window, WM_CLOSE, 0, 0) && IsWindow(window)) {
        *pWhy = L"cannot post WM_CLOSE (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    if (PollUntil(10000, [&] { return !IsWindow(window); }))
        return true;
    *pWhy = L"\"" + args[0] + L"\" is still there 10 s after WM_CLOSE";
    return false;
}

bool VerbSnapshot(const VerbArgs& args, std::wstring*, std::wstring* pWhy) {
    HWND window = RequireWindow(args[0], pWhy);
    if (!window)
        return false;
    // The viewer's working folder is not ours: it gets the path whole.
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(args[1].c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        *pWhy = L"not a usable path: " + args[1];
        return false;
    }
    COPYDATASTRUCT data = {};
    data.dwData = viewer::kSnapshotCommand;
    data.cbData = length * sizeof(wchar_t);
    data.lpData = full;
    DWORD_PTR saved = FALSE;
    if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                             kAnswerTimeoutMs, &saved)) {
        *pWhy = L"\"" + args[0] + L"\" did not answer the snapshot command";
        return false;
    }
    if (!saved) {
        *pWhy = L"\"" + args[0] + L"\" saved no snapshot (no frame yet, or the file cannot be written)";
        return false;
    }
    return true;
}

} // namespace probe
