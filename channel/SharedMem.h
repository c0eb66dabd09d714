// CSharedMem: one side of the shared frame channel (see SharedFrameHeader.h for the layout).
//
// Threading: the object has no lock of its own. Everything below the size word may only be touched
// between a successful Lock() and its Unlock(); the named mutex serialises the two processes and
// every thread in them. Lock() never waits longer than 50 ms, so neither side can stall the other.
// Open, Create and Close belong to one thread; Lock, Unlock and Header may be called from several
// threads at once (the capture program publishes from its dialog and its playback thread), which
// is why the recorded error is atomic: it is the only field those calls write.
#pragma once

#include <windows.h>

#include <atomic>

#include "SharedFrameHeader.h"
#include "UniqueAny.h"

class CSharedMem {
public:
    CSharedMem() = default;
    virtual ~CSharedMem();
    CSharedMem(const CSharedMem&) = delete;
    CSharedMem& operator=(const CSharedMem&) = delete;

    // Opens the channel the other side created. name is the mutex name ("_KLO_SHM").
    BOOL Open(const char* name);
    // Creates the section and mutex and initialises the size word and a zero header. When the other
    // side creates the section first, ends open on it without touching its content, or closed.
    BOOL Create(const char* name, DWORD payloadSize);
    // Takes the mutex, waiting at most 50 ms. An abandoned mutex counts as taken.
    BOOL Lock() { return Lock(kLockTimeoutMs); }
    // The same with a shorter wait (longer ones are cut to 50 ms): 0 only looks, for a reader that
    // polls and would rather look again than wait while the other side copies a frame.
    BOOL Lock(DWORD timeoutMs);
    BOOL Unlock();
    // The header, or nullptr when there is no view or the creator has not written the size word yet.
    SharedFrameHeader* Header();
    void Close();

    BOOL IsOpen() const { return m_bOpened; }
    DWORD GetLastError() const { return m_dwLastError; }
    const char* GetName() const { return m_szName; }

    static constexpr DWORD kLockTimeoutMs = 50;
    // Looks for the creator's mutex when joining a section the other side has just created: the
    // creator makes it right after the section, so a few looks a few milliseconds apart are plenty.
    static constexpr int kMutexJoinAttempts = 20;

protected:
    // Runs between two of those looks (before look 2 .. kMutexJoinAttempts) and waits a few
    // milliseconds. A test overrides it to let the creator's next step happen at a known point.
    virtual void PauseBeforeJoinAttempt(int attempt);

private:
    BOOL MapWholeSection();
    void SetName(const char* name);
    // Records ::GetLastError(), closes what was obtained, reports failure.
    BOOL Fail();

    BYTE* View() const { return static_cast<BYTE*>(m_pView.get()); }

    BOOL m_bOpened = FALSE;
    // Declared so that the view goes before the section it maps.
    win::UniqueHandle m_hSection;
    win::UniqueHandle m_hMutex;
    win::UniqueMappedView m_pView;
    std::atomic<DWORD> m_dwLastError{0};
    char m_szName[64] = {};
};
