// CCriticalSection: a Win32 critical section. lock()/unlock() make it usable with
// std::lock_guard, which is how the program takes it.
#pragma once

#include <windows.h>

class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_sect); }
    ~CCriticalSection() { DeleteCriticalSection(&m_sect); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    BOOL Lock() {
        EnterCriticalSection(&m_sect);
        return TRUE;
    }
    BOOL Unlock() {
        LeaveCriticalSection(&m_sect);
        return TRUE;
    }
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    CRITICAL_SECTION m_sect;
};
