// Waiting for something another thread or process does, by polling: the tests' one way to wait for
// a condition that has no event of its own to wait on.
#pragma once

#include <windows.h>

namespace testing_support {

// Calls done() every pollMs until it returns true (true), or until timeoutMs has passed (false).
// done() is asked once more after the time is up only if the last sleep ended before it.
template <typename Condition> bool WaitUntil(Condition done, DWORD timeoutMs, DWORD pollMs = 20) {
    const ULONGLONG start = GetTickCount64();
    while (!done()) {
        if (GetTickCount64() - start >= timeoutMs)
            return false;
        Sleep(pollMs);
    }
    return true;
}

} // namespace testing_support
