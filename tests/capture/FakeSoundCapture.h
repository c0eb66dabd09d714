// A DirectSound capture device in memory, for what Wine's never does on the bench: a buffer
// without a notify interface, refused notification positions, a failing position query or lock,
// and a capture position the test moves by hand, so that every wake-up of the worker finds exactly
// what the test put there. The worker is woken through the event it handed to
// SetNotificationPositions, as the real device wakes it.
//
// Objects are reference counted like real COM objects; tests end by checking that their last
// Release returns 0, which catches a reference the sound capture forgot to drop.
//
// This header includes dsound.h: no DirectShow code may be in the same translation unit.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <dsound.h>

#include <algorithm>
#include <atomic>
#include <vector>

namespace soundtest {

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class CFakeCaptureBuffer final : public IDirectSoundCaptureBuffer, public IDirectSoundNotify {
public:
    CFakeCaptureBuffer(const DSCBUFFERDESC& desc, bool bWithNotify, HRESULT hrNotify)
        : m_dwDescSize(desc.dwSize), m_format(*desc.lpwfxFormat), m_bWithNotify(bWithNotify),
          m_hrNotify(hrNotify), m_bytes(desc.dwBufferBytes) {}

    // What a test sets while the worker runs. The position is where the worker finds the end of
    // the captured data (the read position).
    std::atomic<DWORD> m_dwReadPos{0};
    std::atomic<HRESULT> m_hrPosition{DS_OK};
    std::atomic<HRESULT> m_hrLock{DS_OK};
    // What a test reads.
    const DWORD m_dwDescSize;
    const WAVEFORMATEX m_format;
    const bool m_bWithNotify;
    const HRESULT m_hrNotify;
    std::vector<BYTE> m_bytes; // the captured sound; the test writes it before it moves the position
    std::vector<DSBPOSITIONNOTIFY> m_notifications;
    std::atomic<int> m_nPositionQueries{0};
    std::atomic<bool> m_bCapturing{false};
    std::atomic<DWORD> m_dwStartFlags{0};

    // The event the worker waits on (the one every notification names).
    HANDLE Event() const { return m_notifications.empty() ? nullptr : m_notifications[0].hEventNotify; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectSoundCaptureBuffer))
            *ppv = static_cast<IDirectSoundCaptureBuffer*>(this);
        else if (m_bWithNotify && IsEqualIID(riid, IID_IDirectSoundNotify))
            *ppv = static_cast<IDirectSoundNotify*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG c = InterlockedDecrement(&m_cRef);
        if (c == 0)
            delete this;
        return static_cast<ULONG>(c);
    }

    // IDirectSoundCaptureBuffer
    STDMETHODIMP GetCaps(LPDSCBCAPS caps) override {
        caps->dwFlags = 0;
        caps->dwBufferBytes = static_cast<DWORD>(m_bytes.size());
        return DS_OK;
    }
    STDMETHODIMP GetCurrentPosition(LPDWORD capture, LPDWORD read) override {
        ++m_nPositionQueries;
        if (FAILED(m_hrPosition.load()))
            return m_hrPosition;
        if (capture)
            *capture = m_dwReadPos;
        if (read)
            *read = m_dwReadPos;
        return DS_OK;
    }
    STDMETHODIMP GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetStatus(LPDWORD status) override {
        *status = m_bCapturing ? DSCBSTATUS_CAPTURING : 0;
        return DS_OK;
    }
    STDMETHODIMP Initialize(LPDIRECTSOUNDCAPTURE, LPCDSCBUFFERDESC) override {
        return DSERR_ALREADYINITIALIZED;
    }
    STDMETHODIMP Lock(DWORD offset, DWORD bytes, LPVOID* p1, LPDWORD n1, LPVOID* p2, LPDWORD n2,
                      DWORD) override {
        if (FAILED(m_hrLock.load()))
            return m_hrLock;
        const DWORD size = static_cast<DWORD>(m_bytes.size());
        if (offset >= size || bytes > size || bytes == 0)
            return DSERR_INVALIDPARAM;
        const DWORD first = std::min(bytes, size - offset);
        *p1 = m_bytes.data() + offset;
        *n1 = first;
        if (p2)
            *p2 = bytes > first ? m_bytes.data() : nullptr;
        if (n2)
            *n2 = bytes - first;
        return DS_OK;
    }
    STDMETHODIMP Start(DWORD flags) override {
        m_dwStartFlags = flags;
        m_bCapturing = true;
        return DS_OK;
    }
    STDMETHODIMP Stop() override {
        m_bCapturing = false;
        return DS_OK;
    }
    STDMETHODIMP Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return DS_OK; }

    // IDirectSoundNotify
    STDMETHODIMP SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY table) override {
        if (FAILED(m_hrNotify))
            return m_hrNotify;
        m_notifications.assign(table, table + count);
        return DS_OK;
    }

private:
    ~CFakeCaptureBuffer() = default;
    LONG m_cRef = 1;
};

class CFakeCapture final : public IDirectSoundCapture {
public:
    // What a test sets.
    HRESULT m_hrCreateBuffer = DS_OK;
    bool m_bBuffersWithNotify = true;
    HRESULT m_hrBufferNotify = DS_OK; // what new buffers' SetNotificationPositions answers
    // The buffer made last; the capture object holds a reference of its own until it goes.
    CFakeCaptureBuffer* m_pLastBuffer = nullptr;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDirectSoundCapture))
            return E_NOINTERFACE;
        *ppv = static_cast<IDirectSoundCapture*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG c = InterlockedDecrement(&m_cRef);
        if (c == 0)
            delete this;
        return static_cast<ULONG>(c);
    }

    STDMETHODIMP CreateCaptureBuffer(LPCDSCBUFFERDESC desc, LPDIRECTSOUNDCAPTUREBUFFER* buffer,
                                     LPUNKNOWN) override {
        *buffer = nullptr;
        if (FAILED(m_hrCreateBuffer))
            return m_hrCreateBuffer;
        if (!desc || !desc->lpwfxFormat || desc->dwBufferBytes == 0)
            return DSERR_INVALIDPARAM;
        auto* made = new CFakeCaptureBuffer(*desc, m_bBuffersWithNotify, m_hrBufferNotify);
        if (m_pLastBuffer)
            m_pLastBuffer->Release();
        m_pLastBuffer = made; // the reference it was made with
        made->AddRef();
        *buffer = made;
        return DS_OK;
    }
    STDMETHODIMP GetCaps(LPDSCCAPS) override { return E_NOTIMPL; }
    STDMETHODIMP Initialize(LPCGUID) override { return DSERR_ALREADYINITIALIZED; }

private:
    ~CFakeCapture() {
        if (m_pLastBuffer)
            m_pLastBuffer->Release();
    }
    LONG m_cRef = 1;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The capture object the next CSoundCapture::Setup gets from FakeCaptureCreate, or null for a
// factory that fails as DirectSoundCaptureCreate does for a device that is not there.
inline CFakeCapture* g_pNextCapture = nullptr;

inline HRESULT WINAPI FakeCaptureCreate(LPCGUID, IDirectSoundCapture** capture, IUnknown*) {
    *capture = g_pNextCapture;
    if (!g_pNextCapture)
        return DSERR_NODRIVER;
    g_pNextCapture->AddRef();
    return DS_OK;
}

} // namespace soundtest
