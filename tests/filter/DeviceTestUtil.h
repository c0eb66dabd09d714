// Helpers shared by the ZarvexDevice tests: the filter made in-process, the per-user settings saved
// and restored around a test, the frame channel as a third party sees it, the placeholder picture
// checked by its pixels, and a client graph (device -> sample grabber -> null renderer) that keeps
// every frame it receives.
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

#include "FilterSettings.h"
#include "FrameworkTestUtil.h"
#include "SharedMem.h"
#include "Tesk_Capture.h"
#include "Tesk_Stream.h"
#include "ZarvexSettings.h"
#include "dshow_test.h"

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
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, CFilterSettings::kKeyPath, 0, KEY_SET_VALUE, &hKey) !=
            ERROR_SUCCESS)
            return;
        (void)RegDeleteValueA(hKey, CFilterSettings::kFrameTimeValue); // absent is fine
        (void)RegDeleteValueA(hKey, CFilterSettings::kSelectPixelValue);
        RegCloseKey(hKey);
    }
    void SetString(const char* name, const char* text) {
        Write(name, REG_SZ, std::string(text, std::strlen(text) + 1));
    }
    void SetDword(const char* name, DWORD value) {
        Write(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
    }
    // The REG_SZ text of a value, "<absent>" or "<not REG_SZ>".
    static std::string Read(const char* name) {
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, CFilterSettings::kKeyPath, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return "<absent>";
        char text[256] = {};
        DWORD cb = sizeof text - 1;
        DWORD type = 0;
        const LONG err = RegQueryValueExA(hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &cb);
        RegCloseKey(hKey);
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
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, CFilterSettings::kKeyPath, 0, access, &hKey) != ERROR_SUCCESS)
            return false;
        for (const char* name : {CFilterSettings::kFrameTimeValue, CFilterSettings::kSelectPixelValue}) {
            char data[1024];
            DWORD cb = sizeof data;
            DWORD type = 0;
            if (RegQueryValueExA(hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &cb) ==
                ERROR_SUCCESS)
                pValues->push_back({name, type, std::string(data, cb)});
        }
        RegCloseKey(hKey);
        return true;
    }
    static void Write(const char* name, DWORD type, const std::string& data) {
        HKEY hKey = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, CFilterSettings::kKeyPath, 0, nullptr, 0,
                                                 KEY_WRITE, nullptr, &hKey, nullptr));
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(hKey, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())));
        RegCloseKey(hKey);
    }

    bool m_keyExisted = false;
    std::vector<Value> m_saved;
};

// True when neither the channel's section nor its mutex exists: a test that needs the filter to
// create a fresh, zeroed channel checks this first.
inline bool ChannelExists() {
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, "KLO_SHM");
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kChannelName);
    const bool any = section || mutex;
    if (section)
        CloseHandle(section);
    if (mutex)
        CloseHandle(mutex);
    return any;
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

// What the placeholder picture looks like by its pixels: how many white pixels lie in the middle
// third of the frame, and whether the four corners are black.
struct PlaceholderLook {
    int whiteNearCentre = 0;
    bool cornersBlack = false;
    bool Ok() const { return whiteNearCentre >= 20 && cornersBlack; }
};

inline PlaceholderLook LookAtPlaceholder(const BYTE* p, size_t cb, int width, int height) {
    PlaceholderLook look;
    const size_t stride = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
    if (!p || cb < stride * static_cast<size_t>(height))
        return look;
    auto pixel = [&](int x, int y) {
        return p + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
    };
    for (int y = height / 3; y < 2 * height / 3; ++y)
        for (int x = width / 3; x < 2 * width / 3; ++x) {
            const BYTE* px = pixel(x, y);
            if (px[0] >= 250 && px[1] >= 250 && px[2] >= 250)
                ++look.whiteNearCentre;
        }
    look.cornersBlack = true;
    const int xs[2] = {0, width - 3};
    const int ys[2] = {0, height - 3};
    for (int cx : xs)
        for (int cy : ys)
            for (int y = cy; y < cy + 3; ++y)
                for (int x = cx; x < cx + 3; ++x) {
                    const BYTE* px = pixel(x, y);
                    if (px[0] != 0 || px[1] != 0 || px[2] != 0)
                        look.cornersBlack = false;
                }
    return look;
}

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

// A client's graph around a device filter: device -> sample grabber -> null renderer, in the
// platform's filter graph. The grabber takes RGB24 video; with a full type it takes only that.
class CClientGraph {
public:
    ~CClientGraph() { Release(); }

    // Builds and connects the graph; every step must succeed.
    void Build(IBaseFilter* pDevice, ISampleGrabberCB* pCallback,
               const AM_MEDIA_TYPE* pGrabberType = nullptr) {
        m_device = pDevice;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         reinterpret_cast<void**>(m_graph.GetAddressOf())));
        ASSERT_EQ(S_OK, CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         reinterpret_cast<void**>(m_grabberFilter.GetAddressOf())));
        ASSERT_EQ(S_OK, m_grabberFilter.As(&m_grabber));
        ASSERT_EQ(S_OK, CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         reinterpret_cast<void**>(m_renderer.GetAddressOf())));
        ASSERT_EQ(S_OK, m_graph->AddFilter(pDevice, L"Video Capture"));
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_grabberFilter.Get(), L"Sample Grabber"));
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_renderer.Get(), L"Null Renderer"));
        ASSERT_EQ(S_OK, m_graph.As(&m_control));

        AM_MEDIA_TYPE mt = {};
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = MEDIASUBTYPE_RGB24;
        ASSERT_EQ(S_OK, m_grabber->SetMediaType(pGrabberType ? pGrabberType : &mt));
        ASSERT_EQ(S_OK, m_grabber->SetBufferSamples(FALSE));
        ASSERT_EQ(S_OK, m_grabber->SetOneShot(FALSE));
        ASSERT_EQ(S_OK, m_grabber->SetCallback(pCallback, 1));

        m_deviceOut = FindPinByDirection(pDevice, PINDIR_OUTPUT);
        ComPtr<IPin> grabberIn = FindPinByDirection(m_grabberFilter.Get(), PINDIR_INPUT);
        ComPtr<IPin> grabberOut = FindPinByDirection(m_grabberFilter.Get(), PINDIR_OUTPUT);
        ComPtr<IPin> rendererIn = FindPinByDirection(m_renderer.Get(), PINDIR_INPUT);
        ASSERT_TRUE(m_deviceOut && grabberIn && grabberOut && rendererIn);
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_deviceOut.Get(), grabberIn.Get(), nullptr));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr));
    }

    HRESULT Run() { return m_control->Run(); }
    // The capture program's stop order: pause, drop the callback, stop.
    void Stop() {
        if (!m_control)
            return;
        (void)m_control->Pause(); // a graph that never ran has nothing to pause
        if (m_grabber) {
            EXPECT_EQ(S_OK, m_grabber->SetCallback(nullptr, 1));
        }
        EXPECT_EQ(S_OK, m_control->Stop());
    }
    // The connection's media type (as the grabber got it).
    HRESULT ConnectedType(AM_MEDIA_TYPE* pmt) { return m_deviceOut->ConnectionMediaType(pmt); }
    IGraphBuilder* Graph() const { return m_graph.Get(); }

    // Lets go of everything; each platform object must go with its last reference.
    void Release() {
        if (m_control)
            (void)m_control->Stop(); // a stopped graph answers S_OK again
        m_control.Reset();
        m_deviceOut.Reset();
        m_grabber.Reset();
        if (m_graph) {
            EXPECT_EQ(0u, FinalRelease(m_graph));
        }
        if (m_grabberFilter) {
            EXPECT_EQ(0u, FinalRelease(m_grabberFilter));
        }
        if (m_renderer) {
            EXPECT_EQ(0u, FinalRelease(m_renderer));
        }
        m_device = nullptr;
    }

private:
    IBaseFilter* m_device = nullptr; // the caller's
    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IBaseFilter> m_grabberFilter;
    ComPtr<ISampleGrabber> m_grabber;
    ComPtr<IBaseFilter> m_renderer;
    ComPtr<IMediaControl> m_control;
    ComPtr<IPin> m_deviceOut;
};
