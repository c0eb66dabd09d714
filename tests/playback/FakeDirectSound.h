// A DirectSound device and buffer in memory, for the failures Wine's DirectSound never produces:
// a lost buffer (Lock, Unlock or Play failing until Restore), a failing cursor query, a device that
// refuses buffers, a buffer without a notify interface. It also keeps what the sound output handed
// it (the buffer description, the notification table), so tests see the calls themselves.
//
// Objects are reference counted like real COM objects; tests end by checking that their last
// Release returns 0, which catches a reference the sound output forgot to drop.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <dsound.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace soundtest {

// COM objects delete themselves in Release and are never deleted through an interface pointer,
// so their destructors need not be virtual (the interfaces have none).
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// Reference counting of the fakes: the count starts at 1, for whoever made the object.
template <typename TDerived> class CFakeRefCount {
protected:
    ULONG AddRefImpl() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    ULONG ReleaseImpl() {
        const LONG c = InterlockedDecrement(&m_cRef);
        if (c == 0)
            delete static_cast<TDerived*>(this);
        return static_cast<ULONG>(c);
    }

private:
    LONG m_cRef = 1;
};

class CFakeSoundBuffer final : public IDirectSoundBuffer,
                               public IDirectSoundNotify,
                               private CFakeRefCount<CFakeSoundBuffer> {
public:
    explicit CFakeSoundBuffer(const DSBUFFERDESC& desc, bool bWithNotify)
        : m_desc(desc), m_format(*desc.lpwfxFormat), m_bWithNotify(bWithNotify), m_bytes(desc.dwBufferBytes) {
        m_desc.lpwfxFormat = &m_format;
    }

    // What a test sets: the next calls of these fail with the given result until Restore succeeds
    // (a lost buffer) or, for the cursor, for good.
    HRESULT m_hrLock = DS_OK;
    HRESULT m_hrUnlock = DS_OK;
    HRESULT m_hrPlay = DS_OK;
    HRESULT m_hrPosition = DS_OK;
    HRESULT m_hrNotify = DS_OK; // SetNotificationPositions
    // What a test reads.
    DSBUFFERDESC m_desc;
    WAVEFORMATEX m_format;
    bool m_bWithNotify;
    std::vector<BYTE> m_bytes;
    std::vector<DSBPOSITIONNOTIFY> m_notifications;
    DWORD m_dwPlayCursor = 0;
    LONG m_lVolume = 0;
    int m_nRestores = 0;
    int m_nLocks = 0;
    bool m_bPlaying = false;
    DWORD m_dwPlayFlags = 0;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectSoundBuffer))
            *ppv = static_cast<IDirectSoundBuffer*>(this);
        else if (m_bWithNotify && IsEqualIID(riid, IID_IDirectSoundNotify))
            *ppv = static_cast<IDirectSoundNotify*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    // IDirectSoundBuffer
    STDMETHODIMP GetCaps(LPDSBCAPS caps) override {
        caps->dwFlags = m_desc.dwFlags;
        caps->dwBufferBytes = m_desc.dwBufferBytes;
        return DS_OK;
    }
    STDMETHODIMP GetCurrentPosition(LPDWORD play, LPDWORD write) override {
        if (FAILED(m_hrPosition))
            return m_hrPosition;
        if (play)
            *play = m_dwPlayCursor;
        if (write)
            *write = m_dwPlayCursor;
        return DS_OK;
    }
    STDMETHODIMP GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetVolume(LPLONG volume) override {
        *volume = m_lVolume;
        return DS_OK;
    }
    STDMETHODIMP GetPan(LPLONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetFrequency(LPDWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetStatus(LPDWORD status) override {
        *status =
            m_bPlaying ? DSBSTATUS_PLAYING | (m_dwPlayFlags & DSBPLAY_LOOPING ? DSBSTATUS_LOOPING : 0) : 0;
        return DS_OK;
    }
    STDMETHODIMP Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override { return DSERR_ALREADYINITIALIZED; }
    STDMETHODIMP Lock(DWORD offset, DWORD bytes, LPVOID* p1, LPDWORD n1, LPVOID* p2, LPDWORD n2,
                      DWORD flags) override {
        ++m_nLocks;
        if (FAILED(m_hrLock))
            return m_hrLock;
        const DWORD size = static_cast<DWORD>(m_bytes.size());
        if (flags & DSBLOCK_ENTIREBUFFER) {
            offset = 0;
            bytes = size;
        }
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
    STDMETHODIMP Play(DWORD, DWORD, DWORD flags) override {
        if (FAILED(m_hrPlay))
            return m_hrPlay;
        m_bPlaying = true;
        m_dwPlayFlags = flags;
        return DS_OK;
    }
    STDMETHODIMP SetCurrentPosition(DWORD position) override {
        m_dwPlayCursor = position;
        return DS_OK;
    }
    STDMETHODIMP SetFormat(LPCWAVEFORMATEX) override { return DSERR_INVALIDCALL; }
    STDMETHODIMP SetVolume(LONG volume) override {
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX)
            return DSERR_INVALIDPARAM;
        m_lVolume = volume;
        return DS_OK;
    }
    STDMETHODIMP SetPan(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP SetFrequency(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stop() override {
        m_bPlaying = false;
        return DS_OK;
    }
    STDMETHODIMP Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return m_hrUnlock; }
    STDMETHODIMP Restore() override {
        ++m_nRestores;
        // The memory is back: what failed because the buffer was lost works again.
        m_hrLock = m_hrUnlock = m_hrPlay = DS_OK;
        return DS_OK;
    }

    // IDirectSoundNotify (its QueryInterface, AddRef and Release are the ones above)
    STDMETHODIMP SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY table) override {
        if (FAILED(m_hrNotify))
            return m_hrNotify;
        m_notifications.assign(table, table + count);
        return DS_OK;
    }

private:
    friend class CFakeRefCount<CFakeSoundBuffer>;
    ~CFakeSoundBuffer() = default;
};

class CFakeDirectSound final : public IDirectSound, private CFakeRefCount<CFakeDirectSound> {
public:
    // What a test sets.
    HRESULT m_hrCreate = DS_OK;
    bool m_bBuffersWithNotify = true;
    HRESULT m_hrBufferNotify = DS_OK; // what new buffers' SetNotificationPositions answers
    // The buffer made last (the device holds a reference of its own until it goes).
    CFakeSoundBuffer* m_pLastBuffer = nullptr;
    int m_nCreates = 0;

    CFakeDirectSound() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDirectSound))
            return E_NOINTERFACE;
        *ppv = static_cast<IDirectSound*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    STDMETHODIMP CreateSoundBuffer(LPCDSBUFFERDESC desc, LPLPDIRECTSOUNDBUFFER out, IUnknown*) override {
        ++m_nCreates;
        if (!out)
            return DSERR_INVALIDPARAM;
        *out = nullptr;
        if (FAILED(m_hrCreate))
            return m_hrCreate;
        // The two sizes the platform accepts on this width.
        if (!desc || (desc->dwSize != sizeof(DSBUFFERDESC1) && desc->dwSize != sizeof(DSBUFFERDESC)) ||
            !desc->lpwfxFormat || desc->dwBufferBytes == 0)
            return DSERR_INVALIDPARAM;
        auto* buffer = new CFakeSoundBuffer(*desc, m_bBuffersWithNotify);
        buffer->m_hrNotify = m_hrBufferNotify;
        if (m_pLastBuffer)
            m_pLastBuffer->Release();
        m_pLastBuffer = buffer;
        buffer->AddRef();
        *out = buffer;
        return DS_OK;
    }
    STDMETHODIMP GetCaps(LPDSCAPS) override { return E_NOTIMPL; }
    STDMETHODIMP DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER, LPLPDIRECTSOUNDBUFFER) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP SetCooperativeLevel(HWND, DWORD) override { return DS_OK; }
    STDMETHODIMP Compact() override { return DS_OK; }
    STDMETHODIMP GetSpeakerConfig(LPDWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SetSpeakerConfig(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Initialize(LPCGUID) override { return DSERR_ALREADYINITIALIZED; }

    // Drops the device's own reference to the last buffer; returns what that Release returned.
    ULONG ForgetLastBuffer() {
        ULONG c = 0;
        if (m_pLastBuffer)
            c = m_pLastBuffer->Release();
        m_pLastBuffer = nullptr;
        return c;
    }

private:
    friend class CFakeRefCount<CFakeDirectSound>;
    ~CFakeDirectSound() {
        if (m_pLastBuffer)
            m_pLastBuffer->Release();
    }
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

} // namespace soundtest
