#include "SharedMem.h"

#include <cstring>

#include "ChannelAccess.h"
#include "Log.h"

namespace {

// Time between two looks for the creator's mutex: with kMutexJoinAttempts looks, about 100 ms in
// all. Bounded, never indefinite.
constexpr DWORD kMutexJoinSleepMs = 5;

} // namespace

CSharedMem::~CSharedMem() {
    Close();
}

void CSharedMem::SetName(const char* name) {
    std::memset(m_szName, 0, sizeof m_szName);
    std::strncpy(m_szName, name, sizeof m_szName - 1);
}

BOOL CSharedMem::Fail() {
    m_dwLastError = ::GetLastError();
    Close();
    // Closing handles may change the thread's error; callers that look at it see the real cause.
    ::SetLastError(m_dwLastError);
    return FALSE;
}

BOOL CSharedMem::MapWholeSection() {
    m_pView.reset(MapViewOfFile(m_hSection.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!m_pView)
        return FALSE;
    // Anyone may have made a section of this name. Refuse one too small for the layout, or one whose
    // pages are only reserved (SEC_RESERVE), so that no access through the header can fault or
    // reach past the mapping.
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(m_pView.get(), &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        info.RegionSize < kChannelSectionSize) {
        ::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    return TRUE;
}

BOOL CSharedMem::Open(const char* name) {
    Close();
    if (!name || !name[0] || std::strlen(name) >= sizeof m_szName) {
        m_dwLastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    m_hSection.reset(OpenFileMappingA(FILE_MAP_WRITE, FALSE, name + 1));
    if (!m_hSection)
        return Fail();
    m_hMutex.reset(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name));
    if (!m_hMutex)
        return Fail();
    if (!MapWholeSection())
        return Fail();
    SetName(name);
    m_bOpened = TRUE;
    return TRUE;
}

BOOL CSharedMem::Create(const char* name, DWORD payloadSize) {
    Close();
    // The section holds the size word too, so its size must not wrap around 32 bits.
    if (!name || !name[0] || std::strlen(name) >= sizeof m_szName ||
        payloadSize < sizeof(SharedFrameHeader) || payloadSize > MAXDWORD - 4) {
        m_dwLastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    SetName(name);
    // Both objects get a low mandatory label, so that a host of lower integrity than ours (the other
    // side may be a sandboxed video application) can still open them for writing.
    CLowIntegrityAttributes attributes;
    m_hSection.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, attributes.Get(), PAGE_READWRITE, 0,
                                        payloadSize + 4, name + 1));
    m_dwLastError = ::GetLastError();
    if (!m_hSection)
        return Fail();

    if (m_dwLastError == ERROR_ALREADY_EXISTS) {
        // The other side created the section between our failed Open and now. Join it as Open
        // would, and leave its header alone: the creator initialises it under its own mutex.
        for (int attempt = 1;; ++attempt) {
            m_hMutex.reset(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name));
            if (m_hMutex)
                break;
            // Taken now: the pause must not decide which error the caller sees.
            const DWORD error = ::GetLastError();
            if (attempt == kMutexJoinAttempts) {
                ::SetLastError(error);
                return Fail();
            }
            PauseBeforeJoinAttempt(attempt + 1);
        }
        if (!MapWholeSection())
            return Fail();
        m_bOpened = TRUE;
        return TRUE;
    }

    m_hMutex.reset(CreateMutexA(attributes.Get(), TRUE, name));
    m_dwLastError = ::GetLastError();
    if (!m_hMutex || m_dwLastError == ERROR_ALREADY_EXISTS) {
        // A mutex that already exists was not given to us as owned; we cannot initialise safely.
        if (m_hMutex)
            ::SetLastError(ERROR_ALREADY_EXISTS);
        return Fail();
    }
    if (!MapWholeSection()) {
        // Closing a handle does not give up ownership: the mutex would stay ours until this thread
        // ends, and every Lock of the other side would time out meanwhile.
        const DWORD error = ::GetLastError();
        (void)LOG_IF_WIN32_FALSE(
            ReleaseMutex(m_hMutex.get())); // we own it, so this cannot fail in a way worth reporting
        ::SetLastError(error);
        return Fail();
    }

    std::memcpy(View(), &payloadSize, sizeof payloadSize);
    std::memset(View() + 4, 0, payloadSize);
    if (!ReleaseMutex(m_hMutex.get()))
        return Fail();
    m_bOpened = TRUE;
    return TRUE;
}

void CSharedMem::PauseBeforeJoinAttempt(int) {
    Sleep(kMutexJoinSleepMs);
}

BOOL CSharedMem::Lock(DWORD timeoutMs) {
    if (!m_bOpened || !m_hMutex) {
        m_dwLastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    const DWORD r =
        WaitForSingleObject(m_hMutex.get(), timeoutMs < kLockTimeoutMs ? timeoutMs : kLockTimeoutMs);
    // An abandoned mutex is ours now: the owner died, the header is still usable.
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED)
        return TRUE;
    m_dwLastError = (r == WAIT_FAILED) ? ::GetLastError() : WAIT_TIMEOUT;
    return FALSE;
}

BOOL CSharedMem::Unlock() {
    if (!m_bOpened || !m_hMutex) {
        m_dwLastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (!ReleaseMutex(m_hMutex.get())) {
        m_dwLastError = ::GetLastError();
        return FALSE;
    }
    return TRUE;
}

SharedFrameHeader* CSharedMem::Header() {
    if (!m_pView)
        return nullptr;
    DWORD sizeWord;
    std::memcpy(&sizeWord, View(), sizeof sizeWord);
    if (sizeWord == 0)
        return nullptr;
    return reinterpret_cast<SharedFrameHeader*>(View() + 4);
}

void CSharedMem::Close() {
    // The holders keep the thread's last error, so Fail() can close and still report the cause.
    m_hMutex.reset();
    m_pView.reset();
    m_hSection.reset();
    std::memset(m_szName, 0, sizeof m_szName);
    m_bOpened = FALSE;
}
