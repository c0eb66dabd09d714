// What every zxprobe verb is: a function of its arguments that either succeeds (printing what it
// was asked for into *pOut, one line per entry) or fails with a reason in *pWhy.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace probe {

using VerbArgs = std::vector<std::wstring>;
using VerbFunction = bool (*)(const VerbArgs& args, std::wstring* pOut, std::wstring* pWhy);

// Helpers the verbs share.
bool ParseInt(const std::wstring& text, int* pValue);
// A timeout argument in milliseconds, or fallback when the argument is absent.
bool ParseTimeout(const VerbArgs& args, size_t index, DWORD fallback, DWORD* pTimeout);
// The top-level window matching a title pattern (ProbeWindows.h's FindTopLevel), or a reason.
HWND RequireWindow(const std::wstring& pattern, std::wstring* pWhy);
// The control with this id in the window matching a title pattern, or a reason.
HWND RequireControl(const std::wstring& pattern, const std::wstring& id, std::wstring* pWhy);
// Polls done() every 50 ms until it is true or timeoutMs has passed; true when it became true.
template <typename Condition> bool PollUntil(DWORD timeoutMs, Condition done) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() - start >= timeoutMs)
            return false;
        Sleep(50);
    }
}

// The verbs (zxprobe.cpp documents each).
bool VerbWait(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbClose(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbSnapshot(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbClick(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbSlide(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbSelect(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbCount(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbSelected(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbText(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbDoubleClick(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbWaitEnabled(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbWaitText(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbWaitCount(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbSaveAs(const VerbArgs&, std::wstring*, std::wstring*);
bool VerbConfirm(const VerbArgs&, std::wstring*, std::wstring*);

} // namespace probe
