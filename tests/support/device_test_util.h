// Helpers shared by the ZarvexDevice tests (in-process ones in tests/filter, cross-process ones in
// tests/system): the filter made in-process, the per-user settings saved and restored around a
// test, the frame channel as a third party sees it, and a sample-grabber callback that keeps every
// frame it receives for a client graph (client_graph.h).
#pragma once

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ComScope.h"
#include "FilterSettings.h"
#include "SharedMem.h"
#include "Tesk_Capture.h"
#include "Tesk_Stream.h"
#include "UniqueAny.h"
#include "ZarvexSettings.h"
#include "client_graph.h"
#include "dshow_test.h"
#include "frame_kind.h"
#include "inproc_filter.h"
#include "media_types.h"

// A new in-process ZarvexDevice filter, held by its IBaseFilter; its pin through ppStream.
inline ComPtr<IBaseFilter> CreateDevice(CTesk_Stream** ppStream = nullptr) {
    CTesk_Capture* pCapture = nullptr;
    ComPtr<IBaseFilter> filter = CreateInProcessFilter<CTesk_Capture>(&pCapture);
    if (ppStream)
        *ppStream = filter ? pCapture->Stream() : nullptr;
    return filter;
}

// HKEY_CURRENT_USER "Software\Zarvex" as it was when the test began, put back when it ends, so the
// bench's user keeps whatever settings it had.
class CSavedFilterSettings {
public:
    CSavedFilterSettings() { m_keyExisted = Open(KEY_READ, &m_saved); }
    ~CSavedFilterSettings() {
        Clear();
        if (!m_keyExisted) {
            (void)RegDeleteKeyA(HKEY_CURRENT_USER,
                                CFilterSettings::kKeyPath); // fails only if others wrote subkeys
            return;
        }
        for (const Value& v : m_saved)
            Write(v.name.c_str(), v.type, v.data);
    }
    CSavedFilterSettings(const CSavedFilterSettings&) = delete;
    CSavedFilterSettings& operator=(const CSavedFilterSettings&) = delete;

    // Removes both values (the key stays).
    void Clear() {
        win::UniqueRegKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, CFilterSettings::kKeyPath, 0, KEY_SET_VALUE, key.put()) !=
            ERROR_SUCCESS)
            return;
        (void)RegDeleteValueA(key.get(), CFilterSettings::kFrameTimeValue); // absent is fine
        (void)RegDeleteValueA(key.get(), CFilterSettings::kSelectPixelValue);
    }
    void SetString(const char* name, const char* text) {
        Write(name, REG_SZ, std::string(text, std::strlen(text) + 1));
    }
    void SetDword(const char* name, DWORD value) {
        Write(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
    }
    // The REG_SZ text of a value, "<absent>" or "<not REG_SZ>".
    static std::string Read(const char* name) {
        win::UniqueRegKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, CFilterSettings::kKeyPath, 0, KEY_READ, key.put()) !=
            ERROR_SUCCESS)
            return "<absent>";
        char text[256] = {};
        DWORD cb = sizeof text - 1;
        DWORD type = 0;
        const LONG err =
            RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &cb);
        if (err != ERROR_SUCCESS)
            return "<absent>";
        return type == REG_SZ ? std::string(text) : "<not REG_SZ>";
    }

private:
    struct Value {
        std::string name;
        DWORD type;
        std::string data;
    };

    static bool Open(REGSAM access, std::vector<Value>* pValues) {
        win::UniqueRegKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, CFilterSettings::kKeyPath, 0, access, key.put()) !=
            ERROR_SUCCESS)
            return false;
        for (const char* name : {CFilterSettings::kFrameTimeValue, CFilterSettings::kSelectPixelValue}) {
            char data[1024];
            DWORD cb = sizeof data;
            DWORD type = 0;
            if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &cb) ==
                ERROR_SUCCESS)
                pValues->push_back({name, type, std::string(data, cb)});
        }
        return true;
    }
    static void Write(const char* name, DWORD type, const std::string& data) {
        win::UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, CFilterSettings::kKeyPath, 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, key.put(), nullptr));
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())));
    }

    bool m_keyExisted = false;
    std::vector<Value> m_saved;
};

// True when the channel's section or its mutex exists: a test that needs the filter to create a
// fresh, zeroed channel checks first that neither does.
inline bool ChannelExists() {
    const win::UniqueHandle section(OpenFileMappingA(FILE_MAP_READ, FALSE, kChannelName + 1));
    const win::UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, kChannelName));
    return section || mutex;
}

// The channel opened by the test itself, as the capture program would, to read and write it.
class CChannelProbe {
public:
    bool Open() { return m_channel.Open(kChannelName) != FALSE; }
    // A copy of the header and pixel area taken under the lock; false when it could not be locked.
    bool Snapshot(SharedFrameHeader* pCopy) {
        if (!m_channel.Lock())
            return false;
        const SharedFrameHeader* pHeader = m_channel.Header();
        if (pHeader)
            std::memcpy(pCopy, pHeader, sizeof(SharedFrameHeader));
        (void)m_channel.Unlock();
        return pHeader != nullptr;
    }
    std::unique_ptr<SharedFrameHeader> Snapshot() {
        std::unique_ptr<SharedFrameHeader> copy(new SharedFrameHeader);
        if (!Snapshot(copy.get()))
            return nullptr;
        return copy;
    }
    // Runs f on the header under the lock; false when it could not be locked.
    template <typename F> bool Modify(F f) {
        if (!m_channel.Lock())
            return false;
        SharedFrameHeader* pHeader = m_channel.Header();
        if (pHeader)
            f(*pHeader);
        (void)m_channel.Unlock();
        return pHeader != nullptr;
    }
    CSharedMem& Channel() { return m_channel; }

private:
    CSharedMem m_channel;
};

struct RecordedFrame {
    std::vector<BYTE> bytes;
    long length;
    LONGLONG counter;
};

// A sample-grabber callback that keeps a copy of every frame (or only its first bytes) and the
// performance counter at its arrival.
class CFrameRecorder : public CGrabberCallback<RecordedFrame> {
public:
    using Frame = RecordedFrame;

    // Bytes kept of each frame; the rest is only counted.
    explicit CFrameRecorder(size_t keepBytes = SIZE_MAX) : m_keep(keepBytes) {}

protected:
    bool MakeFrame(const BYTE* p, long length, LONGLONG counter, RecordedFrame* out) override {
        out->length = length;
        out->counter = counter;
        const size_t keep = length > 0 ? (static_cast<size_t>(length) < m_keep ? length : m_keep) : 0;
        out->bytes.assign(p, p + keep);
        return true;
    }

private:
    const size_t m_keep;
};
